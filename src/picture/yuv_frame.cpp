#include "picture/yuv_frame.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace rq43 {
namespace {

constexpr std::align_val_t kPlaneAlignment{16};

uint64_t RoundUp16(uint64_t value) {
    return (value + 15) & ~uint64_t{15};
}

// Replicates the first and last pixel of each row into `border` bytes on either side.
void ExtendRowsHorizontally(uint8_t* plane, int32_t stride, uint32_t width, uint32_t height,
                            uint32_t border) {
    if (width == 0) return;
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t* row = plane + static_cast<ptrdiff_t>(r) * stride;
        std::memset(row - border, row[0], border);
        std::memset(row + width, row[width - 1], border);
    }
}

// Copies `count` bytes of the first row into `border` rows before it and of the last row into `border`
// rows after it; `rowStart` points at the left end of row 0 including its border.
void ExtendRowsVertically(uint8_t* rowStart, int32_t stride, size_t count, uint32_t height, uint32_t border) {
    if (height == 0) return;
    const uint8_t* first = rowStart;
    const uint8_t* last = rowStart + static_cast<ptrdiff_t>(height - 1) * stride;
    for (uint32_t i = 1; i <= border; ++i) {
        std::memcpy(rowStart - static_cast<ptrdiff_t>(i) * stride, first, count);
        std::memcpy(rowStart + static_cast<ptrdiff_t>(height - 1 + i) * stride, last, count);
    }
}

}  // namespace

YuvFrame::~YuvFrame() {
    ReleaseFrame(*this);
}

void ReleaseFrame(YuvFrame& frame) {
    if (frame.buffer != nullptr) ::operator delete[](frame.buffer, kPlaneAlignment);
    delete[] frame.lineBuffer;
    frame.width = frame.height = frame.border = 0;
    frame.stride = 0;
    frame.buffer = frame.y = frame.u = frame.v = frame.lineBuffer = nullptr;
    frame.allocated = 0;
    frame.bufferSize = 0;
    std::vector<uint8_t>().swap(frame.conversionScratch);
}

void AllocateFrame(YuvFrame& frame, uint32_t width, uint32_t height, uint32_t border) {
    if (frame.allocated && frame.width == width && frame.height == height && frame.border == border) return;
    ReleaseFrame(frame);

    const uint64_t stride = uint64_t{width} + 2 * uint64_t{border};
    const uint64_t rows = uint64_t{height} + 2 * uint64_t{border};
    if (stride > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ||
        rows > std::numeric_limits<uint32_t>::max()) {
        throw std::bad_array_new_length();
    }
    const uint64_t nominalSize = stride * rows * 3 / 2 + 32;
    // The buffer itself is 16-byte aligned, so rounding the plane origins up to 16 bytes is rounding their
    // offsets. Geometries whose rows are not a multiple of 16 bytes can reach past the nominal size, so
    // never allocate less than the layout reaches.
    const uint64_t yOffset = RoundUp16(border * (stride + 1));
    const uint64_t uOffset = yOffset + RoundUp16(stride * (uint64_t{height} + border + border / 2));
    const uint64_t chromaEnd = uOffset + stride * (uint64_t{height} / 2 + border / 2);
    const uint64_t layoutSize = std::max(nominalSize, chromaEnd);
    if (layoutSize > std::numeric_limits<size_t>::max()) throw std::bad_array_new_length();
    const auto size = static_cast<size_t>(layoutSize);

    auto* buffer = static_cast<uint8_t*>(::operator new[](size, kPlaneAlignment));
    uint8_t* lineBuffer = nullptr;
    try {
        lineBuffer = new uint8_t[std::max(width, height) + size_t{8}]();
    } catch (...) {
        ::operator delete[](buffer, kPlaneAlignment);
        throw;
    }
    std::memset(buffer, 0, size);

    frame.width = width;
    frame.height = height;
    frame.border = border;
    frame.stride = static_cast<int32_t>(stride);
    frame.buffer = buffer;
    frame.bufferSize = size;
    frame.y = buffer + static_cast<size_t>(yOffset);
    frame.u = buffer + static_cast<size_t>(uOffset);
    frame.v = frame.u + width / 2 + border;
    frame.lineBuffer = lineBuffer;
    frame.allocated = 1;
}

void ExtendBorders(YuvFrame& frame) {
    if (!frame.allocated) return;
    const uint32_t chromaBorder = frame.border / 2;
    const uint32_t chromaWidth = frame.width / 2;
    const uint32_t chromaHeight = frame.height / 2;
    ExtendRowsHorizontally(frame.y, frame.stride, frame.width, frame.height, frame.border);
    ExtendRowsHorizontally(frame.u, frame.stride, chromaWidth, chromaHeight, chromaBorder);
    ExtendRowsHorizontally(frame.v, frame.stride, chromaWidth, chromaHeight, chromaBorder);
    const size_t row = static_cast<size_t>(frame.stride);
    ExtendRowsVertically(frame.y - frame.border, frame.stride, row, frame.height, frame.border);
    ExtendRowsVertically(frame.u - chromaBorder, frame.stride, row, chromaHeight, chromaBorder);
}

}  // namespace rq43
