#include "codec_host.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "cli_errors.h"
#include "pipeline/frame_header.h"
#include "settings_overlay.h"

namespace rq43::cli {
namespace {

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
        case ICERR_BADSIZE:
            return "bad size";
        default:
            return "error " + std::to_string(result);
    }
}

void RequireOpened(const DriverInstance& instance) {
    if (!instance.Opened())
        throw Failure("cannot open the RQ43 codec (" + ErrorText(instance.openError) + ")");
}

int AbsoluteHeight(const BITMAPINFOHEADER& header) {
    return header.biHeight < 0 ? -header.biHeight : header.biHeight;
}

}  // namespace

int Compressor::DefaultKeyInterval() {
    DriverInstance instance(FreshDriverHandle());
    RequireOpened(instance);
    DWORD interval = 0;
    instance.Message(ICM_GETDEFAULTKEYFRAMERATE, Param(&interval));
    return static_cast<int>(interval);
}

Compressor::Compressor(const CompressorSetup& setup)
    : setup(setup),
      session(FreshDriverHandle(), CompressorInputHeader(setup.format, setup.width, setup.height)) {
    const DriverInstance& instance = session.host;
    RequireOpened(instance);
    const std::string what = std::string("the codec refuses ") + HostFormatName(setup.format) + " input of " +
                             std::to_string(setup.width) + "x" + std::to_string(setup.height);
    if (LRESULT r = instance.Message(ICM_COMPRESS_QUERY, Param(&session.input)); r != ICERR_OK)
        throw Failure(what + " (" + ErrorText(r) + ")");
    if (session.formatResult != ICERR_OK) throw Failure(what + " (" + ErrorText(session.formatResult) + ")");
    if (LRESULT r = instance.Message(ICM_COMPRESS_QUERY, Param(&session.input), Param(&session.output));
        r != ICERR_OK)
        throw Failure(what + " (" + ErrorText(r) + ")");
    if (session.bound <= 0) throw Failure(what + " (no output size)");

    if (setup.quality) {
        quality = static_cast<DWORD>(*setup.quality * 100);
    } else {
        instance.Message(ICM_GETDEFAULTQUALITY, Param(&quality));
    }
    if (setup.bitrateKbps > 0) {
        ICCOMPRESSFRAMES frames{};
        frames.lpbiOutput = &session.output;
        frames.lpbiInput = &session.input;
        frames.lFrameCount = static_cast<LONG>(std::min<int64_t>(setup.frameCount, INT32_MAX));
        frames.lQuality = static_cast<LONG>(quality);
        frames.lDataRate = static_cast<LONG>(std::min<int64_t>(setup.bitrateKbps * 1000 / 8, INT32_MAX));
        frames.lKeyRate = setup.keyInterval;
        frames.dwRate = setup.rate;
        frames.dwScale = setup.scale;
        instance.Message(ICM_COMPRESS_FRAMES_INFO, Param(&frames), static_cast<LPARAM>(sizeof frames));
    } else {
        instance.Message(ICM_SETQUALITY, Param(&quality));
    }

    std::lock_guard settingsLock(settingsMutex);
    if (setup.runSettings) {
        ScopedSettingsOverlay overlay(*setup.runSettings);
        session.Begin();
    } else {
        session.Begin();
    }
    if (!session.Begun())
        throw Failure("the codec cannot start compressing (" + ErrorText(session.beginResult) + ")");
}

CompressedFrame Compressor::Compress(const uint8_t* picture, bool requestKey, int64_t frameNumber) {
    CompressOptions options;
    options.flags = requestKey ? ICCOMPRESS_KEYFRAME : 0;
    options.frameSize = setup.frameSize;
    options.quality = quality;
    CompressedFrame frame;
    LRESULT r = session.Compress(picture, static_cast<LONG>(frameNumber & INT32_MAX), &frame, options);
    if (r != ICERR_OK)
        throw Failure("the codec failed on frame " + std::to_string(frameNumber) + " (" + ErrorText(r) + ")");
    FrameHeader header;
    if (!ReadCheckedFrameHeader(frame.bytes.data(), frame.bytes.size(), &header))
        throw Failure("the codec produced a malformed frame " + std::to_string(frameNumber));
    return frame;
}

Decompressor::Decompressor(const BITMAPINFOHEADER& compressed, HostFormat output)
    : width(compressed.biWidth),
      height(AbsoluteHeight(compressed)),
      session(FreshDriverHandle(), compressed, DecompressorOutputHeader(output, width, height)) {
    RequireOpened(session.host);
    if (LRESULT r = session.host.Message(ICM_DECOMPRESS_QUERY, Param(&session.input), Param(&session.output));
        r != ICERR_OK)
        throw Failure(std::string("the codec cannot decode this stream to ") + HostFormatName(output) + " (" +
                      ErrorText(r) + ")");
    std::lock_guard settingsLock(settingsMutex);
    if (session.Begin() != ICERR_OK)
        throw Failure("the codec cannot start decompressing (" + ErrorText(session.beginResult) + ")");
}

bool Decompressor::Decode(const uint8_t* data, size_t size, uint8_t* picture) {
    FrameHeader header;
    // A frame whose own layout does not fit its chunk never reaches the codec.
    if (!ReadCheckedFrameHeader(data, size, &header)) return false;
    return session.Decompress(data, size, picture) == ICERR_OK;
}

}  // namespace rq43::cli
