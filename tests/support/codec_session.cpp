#include "support/codec_session.h"

#include <cstring>

#include "support/checksum.h"

namespace rq43::testing {

EncoderSession::EncoderSession(uintptr_t handle, const BITMAPINFOHEADER& input) : host(handle), input(input) {
    host.Message(ICM_COMPRESS_GET_FORMAT, Param(&this->input), Param(&output));
    beginResult = host.Message(ICM_COMPRESS_BEGIN, Param(&this->input), Param(&output));
}

EncoderSession::~EncoderSession() {
    host.Message(ICM_COMPRESS_END);
}

LRESULT EncoderSession::Compress(const std::vector<uint8_t>& pixels, LONG frameNumber, CompressedFrame* out,
                                 const CompressOptions& options) {
    const LRESULT bound = host.Message(ICM_COMPRESS_GET_SIZE, Param(&input), Param(&output));
    std::vector<uint8_t> buffer(static_cast<size_t>(bound));
    BITMAPINFOHEADER outputHeader = output;
    BITMAPINFOHEADER inputHeader = input;
    DWORD chunkId = 0, aviFlags = 0;
    ICCOMPRESS record{};
    record.dwFlags = options.flags;
    record.lpbiOutput = &outputHeader;
    record.lpOutput = buffer.data();
    record.lpbiInput = &inputHeader;
    record.lpInput = const_cast<uint8_t*>(pixels.data());
    record.lpckid = &chunkId;
    record.lpdwFlags = &aviFlags;
    record.lFrameNum = frameNumber;
    record.dwFrameSize = options.frameSize;
    record.dwQuality = options.quality;
    const LRESULT result = host.Message(ICM_COMPRESS, Param(&record), sizeof record);
    if (out != nullptr && result == ICERR_OK) {
        buffer.resize(outputHeader.biSizeImage);
        out->bytes = std::move(buffer);
        out->key = (aviFlags & AVIIF_KEYFRAME) != 0;
    }
    return result;
}

DecoderSession::DecoderSession(uintptr_t handle, const BITMAPINFOHEADER& compressed,
                               const BITMAPINFOHEADER& output)
    : host(handle), input(compressed), output(output) {
    beginResult = host.Message(ICM_DECOMPRESS_BEGIN, Param(&input), Param(&this->output));
}

DecoderSession::~DecoderSession() {
    host.Message(ICM_DECOMPRESS_END);
}

size_t DecoderSession::OutputBytes() const {
    const int32_t height = output.biHeight < 0 ? -output.biHeight : output.biHeight;
    return size_t(output.biWidth) * size_t(height) * size_t(output.biBitCount / 8);
}

LRESULT DecoderSession::Decompress(const std::vector<uint8_t>& frame, std::vector<uint8_t>& pixels,
                                   DWORD flags, int64_t chunkSize) {
    BITMAPINFOHEADER inputHeader = input;
    inputHeader.biSizeImage = static_cast<DWORD>(chunkSize < 0 ? int64_t(frame.size()) : chunkSize);
    BITMAPINFOHEADER outputHeader = output;
    ICDECOMPRESS record{};
    record.dwFlags = flags;
    record.lpbiInput = &inputHeader;
    record.lpInput = const_cast<uint8_t*>(frame.data());
    record.lpbiOutput = &outputHeader;
    record.lpOutput = pixels.data();
    return host.Message(ICM_DECOMPRESS, Param(&record), sizeof record);
}

namespace {
template <typename Visit>
void ForEachRow(const YuvFrame& frame, Visit visit) {
    for (uint32_t r = 0; r < frame.height; ++r) visit(frame.y + ptrdiff_t(r) * frame.stride, frame.width);
    for (uint32_t r = 0; r < frame.height / 2; ++r) {
        visit(frame.u + ptrdiff_t(r) * frame.stride, frame.width / 2);
        visit(frame.v + ptrdiff_t(r) * frame.stride, frame.width / 2);
    }
}
}  // namespace

bool SamePicture(const YuvFrame& a, const YuvFrame& b) {
    if (a.width != b.width || a.height != b.height) return false;
    std::vector<const uint8_t*> rows;
    std::vector<uint32_t> lengths;
    ForEachRow(a, [&](const uint8_t* row, uint32_t length) {
        rows.push_back(row);
        lengths.push_back(length);
    });
    size_t i = 0;
    bool same = true;
    ForEachRow(b, [&](const uint8_t* row, uint32_t length) {
        same = same && std::memcmp(rows[i], row, lengths[i]) == 0 && length == lengths[i];
        ++i;
    });
    return same;
}

uint64_t PictureChecksum(const YuvFrame& frame) {
    uint64_t hash = 0xcbf29ce484222325ull;
    ForEachRow(frame, [&](const uint8_t* row, uint32_t length) { hash = Fnv1a(row, length, hash); });
    return hash;
}

}  // namespace rq43::testing
