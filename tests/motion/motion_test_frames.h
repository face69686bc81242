// Pictures for the motion tests: frames filled from a pixel rule, with their borders extended.
#pragma once

#include <cstdint>
#include <functional>
#include <random>

#include "motion/motion_field.h"
#include "picture/yuv_frame.h"

namespace rq43::test {

using PixelRule = std::function<uint8_t(int32_t x, int32_t y)>;

inline void FillPlane(uint8_t* plane, int32_t stride, uint32_t width, uint32_t height,
                      const PixelRule& rule) {
    for (uint32_t r = 0; r < height; ++r) {
        for (uint32_t c = 0; c < width; ++c) {
            plane[static_cast<std::ptrdiff_t>(r) * stride + c] =
                rule(static_cast<int32_t>(c), static_cast<int32_t>(r));
        }
    }
}

// Luma from `luma`, U and V from `chroma` (V offset by 64 so the planes differ); borders extended.
inline void MakeFrame(YuvFrame& frame, uint32_t width, uint32_t height, const PixelRule& luma,
                      const PixelRule& chroma) {
    AllocateFrame(frame, width, height, 16);
    FillPlane(frame.y, frame.stride, width, height, luma);
    FillPlane(frame.u, frame.stride, width / 2, height / 2, chroma);
    FillPlane(frame.v, frame.stride, width / 2, height / 2,
              [&](int32_t x, int32_t y) { return static_cast<uint8_t>(chroma(x, y) + 64); });
    ExtendBorders(frame);
}

inline void MakeFrame(YuvFrame& frame, uint32_t width, uint32_t height, const PixelRule& rule) {
    MakeFrame(frame, width, height, rule, rule);
}

// A ramp with hashed noise: every shift of it measures differently, and neighbouring pixels stay close
// enough that a half-pel mean is nearer its two sources than any distant block.
inline uint8_t Texture(int32_t x, int32_t y) {
    uint32_t h = static_cast<uint32_t>(x) * 0x9E3779B1u + static_cast<uint32_t>(y) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return static_cast<uint8_t>(((x * 7 + y * 3) & 0x7F) + (h & 0x3F));
}

inline uint8_t Pixel(const YuvFrame& frame, const uint8_t* plane, int32_t x, int32_t y) {
    return plane[static_cast<std::ptrdiff_t>(y) * frame.stride + x];
}

}  // namespace rq43::test
