// The encoder's prediction differences of one inter frame: 16-bit samples of source - prediction + 128,
// no border, every plane with a pitch of width samples, U and V side by side in the chroma rows.
#pragma once

#include <cstdint>

namespace rq43 {

struct DifferenceFrame {
    int32_t width = 0;
    int32_t height = 0;
    uint8_t* block = nullptr;  // the one allocation
    int16_t* y = nullptr;
    int16_t* u = nullptr;
    int16_t* v = nullptr;

    DifferenceFrame() = default;
    ~DifferenceFrame();
    DifferenceFrame(const DifferenceFrame&) = delete;
    DifferenceFrame& operator=(const DifferenceFrame&) = delete;
};

// Keeps the block when width and height are unchanged. Throws std::bad_alloc on failure.
void AllocateDifferenceFrame(DifferenceFrame& frame, int32_t width, int32_t height);
void ReleaseDifferenceFrame(DifferenceFrame& frame);

}  // namespace rq43
