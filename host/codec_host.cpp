#include "host/codec_host.h"

#include <algorithm>
#include <atomic>

namespace rq43 {

uintptr_t FreshDriverHandle() {
    static std::atomic<uintptr_t> next{0x5100};
    return next++;
}

DriverInstance::DriverInstance(uintptr_t handle, DriverProcFunction proc)
    : proc(proc), driver(reinterpret_cast<HDRVR>(handle)) {
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = FOURCC_RQ43;
    instance = Message(DRV_OPEN, 0, Param(&open));
    openError = open.dwError;
}

DriverInstance::~DriverInstance() {
    Message(DRV_CLOSE);
}

EncoderSession::EncoderSession(uintptr_t handle, const BITMAPINFOHEADER& input, DriverProcFunction proc)
    : host(handle, proc), input(input) {
    // A driver may describe its format with more than the header; only the header is kept.
    const LRESULT formatBytes = host.Message(ICM_COMPRESS_GET_FORMAT, Param(&this->input));
    std::vector<uint8_t> format(
        std::max<size_t>(static_cast<size_t>(std::max<LRESULT>(formatBytes, 0)), sizeof(BITMAPINFOHEADER)));
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    formatResult = host.Message(ICM_COMPRESS_GET_FORMAT, Param(&this->input), Param(header));
    output = *header;
    bound = host.Message(ICM_COMPRESS_GET_SIZE, Param(&this->input), Param(&output));
}

EncoderSession::~EncoderSession() {
    host.Message(ICM_COMPRESS_END);
}

LRESULT EncoderSession::Begin() {
    beginResult = host.Message(ICM_COMPRESS_BEGIN, Param(&input), Param(&output));
    return beginResult;
}

LRESULT EncoderSession::Compress(const uint8_t* pixels, LONG frameNumber, CompressedFrame* out,
                                 const CompressOptions& options) {
    const auto bytes = static_cast<size_t>(std::max<LRESULT>(bound, 0));
    if (frameBufferBytes != bytes) {
        frameBuffer.reset(bytes > 0 ? new uint8_t[bytes] : nullptr);
        frameBufferBytes = bytes;
    }
    BITMAPINFOHEADER outputHeader = output;
    outputHeader.biSizeImage = static_cast<DWORD>(bytes);
    BITMAPINFOHEADER inputHeader = input;
    DWORD chunkId = 0, aviFlags = 0;
    ICCOMPRESS record{};
    record.dwFlags = options.flags;
    record.lpbiOutput = &outputHeader;
    record.lpOutput = frameBuffer.get();
    record.lpbiInput = &inputHeader;
    record.lpInput = const_cast<uint8_t*>(pixels);
    record.lpckid = &chunkId;
    record.lpdwFlags = &aviFlags;
    record.lFrameNum = frameNumber;
    record.dwFrameSize = options.frameSize;
    record.dwQuality = options.quality;
    const LRESULT result = host.Message(ICM_COMPRESS, Param(&record), sizeof record);
    // A frame said to be longer than the buffer it was written to cannot be trusted.
    if (result == ICERR_OK && outputHeader.biSizeImage > bytes) return ICERR_BADSIZE;
    if (out != nullptr && result == ICERR_OK) {
        out->bytes.assign(frameBuffer.get(), frameBuffer.get() + outputHeader.biSizeImage);
        out->key = (aviFlags & AVIIF_KEYFRAME) != 0;
    }
    return result;
}

DecoderSession::DecoderSession(uintptr_t handle, const BITMAPINFOHEADER& compressed,
                               const BITMAPINFOHEADER& output, DriverProcFunction proc)
    : host(handle, proc), input(compressed), output(output) {}

LRESULT DecoderSession::Begin() {
    beginResult = host.Message(ICM_DECOMPRESS_BEGIN, Param(&input), Param(&output));
    return beginResult;
}

DecoderSession::~DecoderSession() {
    host.Message(ICM_DECOMPRESS_END);
}

size_t DecoderSession::OutputBytes() const {
    const int64_t height = output.biHeight < 0 ? -int64_t{output.biHeight} : output.biHeight;
    return static_cast<size_t>(output.biWidth) * static_cast<size_t>(height) *
           static_cast<size_t>(output.biBitCount / 8);
}

LRESULT DecoderSession::Decompress(const uint8_t* frame, size_t size, uint8_t* pixels, DWORD flags) {
    BITMAPINFOHEADER inputHeader = input;
    inputHeader.biSizeImage = static_cast<DWORD>(size);
    BITMAPINFOHEADER outputHeader = output;
    ICDECOMPRESS record{};
    record.dwFlags = flags;
    record.lpbiInput = &inputHeader;
    record.lpInput = const_cast<uint8_t*>(frame);
    record.lpbiOutput = &outputHeader;
    record.lpOutput = pixels;
    return host.Message(ICM_DECOMPRESS, Param(&record), sizeof record);
}

LRESULT DecoderSession::Decompress(const std::vector<uint8_t>& frame, std::vector<uint8_t>& pixels,
                                   DWORD flags, int64_t chunkSize) {
    return Decompress(frame.data(), chunkSize < 0 ? frame.size() : static_cast<size_t>(chunkSize),
                      pixels.data(), flags);
}

}  // namespace rq43
