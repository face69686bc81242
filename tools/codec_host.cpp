#include "codec_host.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "cli_errors.h"
#include "driver/driver_proc.h"
#include "pipeline/frame_header.h"
#include "settings_overlay.h"

namespace rq43::cli {
namespace {

std::atomic<uintptr_t> nextHandle{0x5100};

// The driver keeps its open instances in one process-wide table with no lock of its own: opening or
// closing an instance may move it while a message to another instance looks its handle up. Messages
// share the table; opening and closing have it alone.
std::shared_mutex instanceTable;
// Setting an instance up reads the stored settings (or this run's overlay of them), which are process-wide.
std::mutex settingsMutex;

std::string ErrorText(LRESULT result) {
    switch (result) {
        case ICERR_UNSUPPORTED:
            return "not supported";
        case ICERR_BADFORMAT:
            return "format refused";
        case ICERR_MEMORY:
            return "out of memory";
        default:
            return "error " + std::to_string(result);
    }
}

}  // namespace

DriverInstance::DriverInstance() : driver(reinterpret_cast<HDRVR>(nextHandle++)) {
    std::unique_lock lock(instanceTable);
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = FOURCC_RQ43;
    if (DriverProc(0, driver, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open)) == 0) {
        DriverProc(0, driver, DRV_CLOSE, 0, 0);
        throw Failure("cannot open the RQ43 codec (" + ErrorText(open.dwError) + ")");
    }
}

DriverInstance::~DriverInstance() {
    std::unique_lock lock(instanceTable);
    DriverProc(0, driver, DRV_CLOSE, 0, 0);
}

LRESULT DriverInstance::Send(UINT message, LPARAM p1, LPARAM p2) const {
    std::shared_lock lock(instanceTable);
    return DriverProc(0, driver, message, p1, p2);
}

int Compressor::DefaultKeyInterval() {
    DriverInstance instance;
    DWORD interval = 0;
    instance.Send(ICM_GETDEFAULTKEYFRAMERATE, &interval);
    return static_cast<int>(interval);
}

Compressor::Compressor(const CompressorSetup& setup)
    : setup(setup), inputFormat(CompressorInputHeader(setup.format, setup.width, setup.height)) {
    const std::string what = std::string("the codec refuses ") + HostFormatName(setup.format) + " input of " +
                             std::to_string(setup.width) + "x" + std::to_string(setup.height);
    if (LRESULT r = instance.Send(ICM_COMPRESS_QUERY, &inputFormat); r != ICERR_OK)
        throw Failure(what + " (" + ErrorText(r) + ")");
    LRESULT formatBytes = instance.Send(ICM_COMPRESS_GET_FORMAT, &inputFormat);
    std::vector<uint8_t> formatBuffer(
        std::max<size_t>(static_cast<size_t>(std::max<LRESULT>(formatBytes, 0)), sizeof(BITMAPINFOHEADER)));
    auto* outHeader = reinterpret_cast<BITMAPINFOHEADER*>(formatBuffer.data());
    if (LRESULT r = instance.Send(ICM_COMPRESS_GET_FORMAT, &inputFormat, outHeader); r != ICERR_OK)
        throw Failure(what + " (" + ErrorText(r) + ")");
    compressedFormat = *outHeader;
    if (LRESULT r = instance.Send(ICM_COMPRESS_QUERY, &inputFormat, &compressedFormat); r != ICERR_OK)
        throw Failure(what + " (" + ErrorText(r) + ")");
    LRESULT bound = instance.Send(ICM_COMPRESS_GET_SIZE, &inputFormat, &compressedFormat);
    if (bound <= 0) throw Failure(what + " (no output size)");
    output.resize(static_cast<size_t>(bound));

    if (setup.quality) {
        quality = static_cast<DWORD>(*setup.quality * 100);
    } else {
        instance.Send(ICM_GETDEFAULTQUALITY, &quality);
    }
    if (setup.bitrateKbps > 0) {
        ICCOMPRESSFRAMES frames{};
        frames.lpbiOutput = &compressedFormat;
        frames.lpbiInput = &inputFormat;
        frames.lFrameCount = static_cast<LONG>(std::min<int64_t>(setup.frameCount, INT32_MAX));
        frames.lQuality = static_cast<LONG>(quality);
        frames.lDataRate = static_cast<LONG>(std::min<int64_t>(setup.bitrateKbps * 1000 / 8, INT32_MAX));
        frames.lKeyRate = setup.keyInterval;
        frames.dwRate = setup.rate;
        frames.dwScale = setup.scale;
        instance.Send(ICM_COMPRESS_FRAMES_INFO, &frames, static_cast<LPARAM>(sizeof frames));
    } else {
        instance.Send(ICM_SETQUALITY, &quality);
    }

    LRESULT r;
    std::lock_guard settingsLock(settingsMutex);
    if (setup.runSettings) {
        ScopedSettingsOverlay overlay(*setup.runSettings);
        r = instance.Send(ICM_COMPRESS_BEGIN, &inputFormat, &compressedFormat);
    } else {
        r = instance.Send(ICM_COMPRESS_BEGIN, &inputFormat, &compressedFormat);
    }
    if (r != ICERR_OK) throw Failure("the codec cannot start compressing (" + ErrorText(r) + ")");
    begun = true;
}

Compressor::~Compressor() {
    if (begun) instance.Send(ICM_COMPRESS_END);
}

CompressedFrame Compressor::Compress(const uint8_t* picture, bool requestKey, int64_t frameNumber) {
    BITMAPINFOHEADER outHeader = compressedFormat;
    DWORD ckid = 0, flags = 0;
    ICCOMPRESS record{};
    record.dwFlags = requestKey ? ICCOMPRESS_KEYFRAME : 0;
    record.lpbiOutput = &outHeader;
    record.lpOutput = output.data();
    record.lpbiInput = &inputFormat;
    record.lpInput = const_cast<uint8_t*>(picture);
    record.lpckid = &ckid;
    record.lpdwFlags = &flags;
    record.lFrameNum = static_cast<LONG>(frameNumber & INT32_MAX);
    record.dwFrameSize = setup.frameSize;
    record.dwQuality = quality;
    LRESULT r = instance.Send(ICM_COMPRESS, &record, static_cast<LPARAM>(sizeof record));
    if (r != ICERR_OK)
        throw Failure("the codec failed on frame " + std::to_string(frameNumber) + " (" + ErrorText(r) + ")");
    FrameHeader header;
    if (outHeader.biSizeImage > output.size() ||
        !ReadCheckedFrameHeader(output.data(), outHeader.biSizeImage, &header))
        throw Failure("the codec produced a malformed frame " + std::to_string(frameNumber));
    return {output.data(), outHeader.biSizeImage, (flags & AVIIF_KEYFRAME) != 0};
}

Decompressor::Decompressor(const BITMAPINFOHEADER& compressed, HostFormat output)
    : inputFormat(compressed), outputFormat(output) {
    width = compressed.biWidth;
    height = compressed.biHeight < 0 ? -compressed.biHeight : compressed.biHeight;
    outputHeader = DecompressorOutputHeader(output, width, height);
    if (LRESULT r = instance.Send(ICM_DECOMPRESS_QUERY, &inputFormat, &outputHeader); r != ICERR_OK)
        throw Failure(std::string("the codec cannot decode this stream to ") + HostFormatName(output) + " (" +
                      ErrorText(r) + ")");
    std::lock_guard settingsLock(settingsMutex);
    if (LRESULT r = instance.Send(ICM_DECOMPRESS_BEGIN, &inputFormat, &outputHeader); r != ICERR_OK)
        throw Failure("the codec cannot start decompressing (" + ErrorText(r) + ")");
    begun = true;
}

Decompressor::~Decompressor() {
    if (begun) instance.Send(ICM_DECOMPRESS_END);
}

bool Decompressor::Decode(const uint8_t* data, size_t size, uint8_t* picture) {
    FrameHeader header;
    // A frame whose own layout does not fit its chunk never reaches the codec.
    if (!ReadCheckedFrameHeader(data, size, &header)) return false;
    BITMAPINFOHEADER in = inputFormat;
    in.biSizeImage = static_cast<DWORD>(size);
    BITMAPINFOHEADER out = outputHeader;
    ICDECOMPRESS record{};
    record.lpbiInput = &in;
    record.lpInput = const_cast<uint8_t*>(data);
    record.lpbiOutput = &out;
    record.lpOutput = picture;
    return instance.Send(ICM_DECOMPRESS, &record, static_cast<LPARAM>(sizeof record)) == ICERR_OK;
}

}  // namespace rq43::cli
