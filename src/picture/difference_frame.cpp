#include "picture/difference_frame.h"

#include <cstddef>
#include <limits>
#include <new>

namespace rq43 {

DifferenceFrame::~DifferenceFrame() {
    ReleaseDifferenceFrame(*this);
}

void ReleaseDifferenceFrame(DifferenceFrame& frame) {
    delete[] frame.block;
    frame.block = nullptr;
    frame.y = frame.u = frame.v = nullptr;
    frame.width = frame.height = 0;
}

void AllocateDifferenceFrame(DifferenceFrame& frame, int32_t width, int32_t height) {
    if (frame.block != nullptr && frame.width == width && frame.height == height) return;
    ReleaseDifferenceFrame(frame);
    if (width < 0 || height < 0) throw std::bad_array_new_length();
    const uint64_t wide = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (wide > std::numeric_limits<size_t>::max() / 4) throw std::bad_array_new_length();

    const auto samples = static_cast<size_t>(wide);
    // Zeroed although every sample is written before it is read: cheap, and keeps reads defined.
    auto* block = new uint8_t[((3 * samples) & ~size_t{1}) + 16]();
    const auto address = reinterpret_cast<uintptr_t>(block);
    const size_t lead = static_cast<size_t>(((address + 15) & ~uintptr_t{15}) - address);

    frame.block = block;
    frame.width = width;
    frame.height = height;
    frame.y = reinterpret_cast<int16_t*>(block + lead);
    frame.u = frame.y + samples;
    frame.v = frame.u + width / 2;
}

}  // namespace rq43
