// Picture builders shared by the picture tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "picture/yuv_frame.h"

namespace rq43::test {

inline uint8_t& Pixel(uint8_t* plane, const YuvFrame& frame, int x, int row) {
    return plane[row * frame.stride + x];
}

// A packed bitmap of `rows` rows; row 0 first in memory.
struct Bitmap {
    int width;
    int rows;
    int bytesPerPixel;
    std::vector<uint8_t> bytes;
    Bitmap(int w, int h, int bpp) : width(w), rows(h), bytesPerPixel(bpp), bytes(size_t(w * h * bpp)) {}
    uint8_t* Row(int r) { return bytes.data() + size_t(r * width * bytesPerPixel); }
    ptrdiff_t Pitch() const { return width * bytesPerPixel; }
    // The same picture stored with its rows in the opposite order.
    Bitmap Flipped() const {
        Bitmap out(width, rows, bytesPerPixel);
        for (int r = 0; r < rows; ++r) {
            std::copy_n(bytes.data() + size_t(r * Pitch()), Pitch(), out.Row(rows - 1 - r));
        }
        return out;
    }
};

inline void FillRandom(std::vector<uint8_t>& bytes, uint32_t seed) {
    std::mt19937 random(seed);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random() & 0xFF);
}

// Writes every picture byte of the three planes from `value(plane, x, row)`; plane 0 Y, 1 U, 2 V.
template <typename Value>
void FillFrame(YuvFrame& frame, Value value) {
    for (int r = 0; r < int(frame.height); ++r)
        for (int x = 0; x < int(frame.width); ++x) Pixel(frame.y, frame, x, r) = value(0, x, r);
    for (int r = 0; r < int(frame.height / 2); ++r) {
        for (int x = 0; x < int(frame.width / 2); ++x) {
            Pixel(frame.u, frame, x, r) = value(1, x, r);
            Pixel(frame.v, frame, x, r) = value(2, x, r);
        }
    }
}

// True when both frames hold the same picture area in all three planes.
inline bool SamePicture(const YuvFrame& a, const YuvFrame& b) {
    if (a.width != b.width || a.height != b.height) return false;
    for (int r = 0; r < int(a.height); ++r) {
        for (int x = 0; x < int(a.width); ++x) {
            if (a.y[r * a.stride + x] != b.y[r * b.stride + x]) return false;
            if (r < int(a.height / 2) && x < int(a.width / 2) &&
                (a.u[r * a.stride + x] != b.u[r * b.stride + x] ||
                 a.v[r * a.stride + x] != b.v[r * b.stride + x]))
                return false;
        }
    }
    return true;
}

}  // namespace rq43::test
