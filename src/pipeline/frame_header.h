// The 8 bytes that open every compressed frame, followed by the motion section (delta frames) and the
// token section. Little-endian; total frame size = 8 + motionSize + tokenSize.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rq43 {

inline constexpr size_t kFrameHeaderSize = 8;

// The most bytes a frame of width x height pixels takes: the buffer a host is told to provide, which the
// encoder never writes past.
inline constexpr uint64_t MaxFrameBytes(uint32_t width, uint32_t height) {
    return 4 * uint64_t{width} * uint64_t{height} + kFrameHeaderSize;
}

struct FrameHeader {
    uint8_t quality = 0;      // quality the token section was coded with
    uint8_t keyFrame = 0;     // 1 = key frame, 0 = delta frame
    uint16_t motionSize = 0;  // 0 in key frames
    uint32_t tokenSize = 0;
};

void WriteFrameHeader(const FrameHeader& header, uint8_t* out);
FrameHeader ReadFrameHeader(const uint8_t* in);

// Reads the header of a frame held in `size` bytes and checks its layout: the header fits, the key flag
// is 0 or 1, a key frame has no motion section and both sections lie inside the frame.
bool ReadCheckedFrameHeader(const uint8_t* frame, size_t size, FrameHeader* header);

}  // namespace rq43
