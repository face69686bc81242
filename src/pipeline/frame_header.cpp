#include "pipeline/frame_header.h"

namespace rq43 {

void WriteFrameHeader(const FrameHeader& header, uint8_t* out) {
    out[0] = header.quality;
    out[1] = header.keyFrame;
    out[2] = static_cast<uint8_t>(header.motionSize);
    out[3] = static_cast<uint8_t>(header.motionSize >> 8);
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(header.tokenSize >> (8 * i));
}

FrameHeader ReadFrameHeader(const uint8_t* in) {
    FrameHeader header;
    header.quality = in[0];
    header.keyFrame = in[1];
    header.motionSize = static_cast<uint16_t>(in[2] | (in[3] << 8));
    header.tokenSize = static_cast<uint32_t>(in[4]) | (static_cast<uint32_t>(in[5]) << 8) |
                       (static_cast<uint32_t>(in[6]) << 16) | (static_cast<uint32_t>(in[7]) << 24);
    return header;
}

bool ReadCheckedFrameHeader(const uint8_t* frame, size_t size, FrameHeader* header) {
    if (frame == nullptr || size < kFrameHeaderSize) return false;
    *header = ReadFrameHeader(frame);
    if (header->keyFrame > 1) return false;
    if (header->keyFrame == 1 && header->motionSize != 0) return false;
    uint64_t total = kFrameHeaderSize + uint64_t{header->motionSize} + header->tokenSize;
    return total <= size;
}

}  // namespace rq43
