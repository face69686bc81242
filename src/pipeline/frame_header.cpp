#include "pipeline/frame_header.h"

#include "bitstream/little_endian.h"

namespace rq43 {

void WriteFrameHeader(const FrameHeader& header, uint8_t* out) {
    out[0] = header.quality;
    out[1] = header.keyFrame;
    PutLittleEndian(out + 2, header.motionSize, 2);
    PutLittleEndian(out + 4, header.tokenSize, 4);
}

FrameHeader ReadFrameHeader(const uint8_t* in) {
    FrameHeader header;
    header.quality = in[0];
    header.keyFrame = in[1];
    header.motionSize = static_cast<uint16_t>(GetLittleEndian(in + 2, 2));
    header.tokenSize = GetLittleEndian(in + 4, 4);
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
