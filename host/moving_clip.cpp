#include "host/moving_clip.h"

#include <algorithm>
#include <cstdlib>

namespace rq43 {
namespace {

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ seed * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

// Bilinear value noise with lattice spacing `cell` pixels, sampled at 1/16-pixel coordinates; 0..amplitude.
int32_t Octave(int64_t x16, int64_t y16, int32_t cell, uint32_t seed, int32_t amplitude) {
    const int64_t span = int64_t{cell} * 16;
    const int64_t cx = x16 / span, cy = y16 / span;
    const int64_t fx = x16 % span, fy = y16 % span;
    auto at = [&](int64_t i, int64_t j) {
        return int64_t(Hash(static_cast<uint32_t>(i), static_cast<uint32_t>(j), seed) % 1024u);
    };
    const int64_t sum = at(cx, cy) * (span - fx) * (span - fy) + at(cx + 1, cy) * fx * (span - fy) +
                        at(cx, cy + 1) * (span - fx) * fy + at(cx + 1, cy + 1) * fx * fy;
    return static_cast<int32_t>(sum * amplitude / (span * span * 1023));
}

uint8_t Clamp(int32_t value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

int StudioY(int r, int g, int b) {
    return 16 + ((66 * r + 129 * g + 25 * b + 128) >> 8);
}
int StudioU(int r, int g, int b) {
    return 128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8);
}
int StudioV(int r, int g, int b) {
    return 128 + ((112 * r - 94 * g - 18 * b + 128) >> 8);
}

// The memory row that holds display row `row`.
int32_t MemoryRow(int32_t row, int32_t height, HostFormat format, bool topDown) {
    const bool yuv = format == HostFormat::Yuy2 || format == HostFormat::Uyvy;
    return (yuv || topDown) ? row : height - 1 - row;
}

}  // namespace

std::vector<uint8_t> ClipFrameRgb(int32_t width, int32_t height, int32_t index, int32_t noise,
                                  uint32_t seed) {
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    // Pan by 6/16 pixel across and 3/16 down per frame; the offset keeps coordinates positive.
    const int64_t panX = 65536 + int64_t{index} * 6, panY = 65536 + int64_t{index} * 3;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int64_t x16 = int64_t{x} * 16 + panX, y16 = int64_t{y} * 16 + panY;
            for (int c = 0; c < 3; ++c) {
                const uint32_t s = seed * 7 + uint32_t(c);
                int32_t value = 40 + Octave(x16, y16, 12, s, 150) + Octave(x16, y16, 3, s + 100, 40);
                if (noise > 0)
                    value += int32_t(Hash(uint32_t(x), uint32_t(y),
                                          uint32_t(index) * 3 + uint32_t(c) + seed * 1000) %
                                     uint32_t(2 * noise + 1)) -
                             noise;
                rgb[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)] = Clamp(value);
            }
        }
    }
    return rgb;
}

std::vector<uint8_t> LayOut(const std::vector<uint8_t>& rgb, int32_t width, int32_t height, HostFormat format,
                            bool topDown) {
    const int bytes = BytesPerPixel(format);
    std::vector<uint8_t> out(size_t(width) * size_t(height) * size_t(bytes), 0xA5);
    for (int32_t row = 0; row < height; ++row) {
        uint8_t* line =
            out.data() + size_t(MemoryRow(row, height, format, topDown)) * size_t(width) * size_t(bytes);
        const uint8_t* source = rgb.data() + size_t(row) * size_t(width) * 3;
        for (int32_t x = 0; x < width; x += 2) {
            const uint8_t* p0 = source + size_t(x) * 3;
            const uint8_t* p1 = p0 + 3;
            // Host RGB is stored B, G, R.
            if (format == HostFormat::Rgb24 || format == HostFormat::Rgb32) {
                for (int k = 0; k < 2; ++k) {
                    const uint8_t* p = k ? p1 : p0;
                    uint8_t* o = line + size_t(x + k) * size_t(bytes);
                    o[0] = p[2];
                    o[1] = p[1];
                    o[2] = p[0];
                }
                continue;
            }
            const int r = (p0[0] + p1[0]) / 2, g = (p0[1] + p1[1]) / 2, b = (p0[2] + p1[2]) / 2;
            const uint8_t y0 = Clamp(StudioY(p0[0], p0[1], p0[2])), y1 = Clamp(StudioY(p1[0], p1[1], p1[2]));
            const uint8_t u = Clamp(StudioU(r, g, b)), v = Clamp(StudioV(r, g, b));
            uint8_t* o = line + size_t(x) * 2;
            if (format == HostFormat::Yuy2) {
                o[0] = y0;
                o[1] = u;
                o[2] = y1;
                o[3] = v;
            } else {
                o[0] = u;
                o[1] = y0;
                o[2] = v;
                o[3] = y1;
            }
        }
    }
    return out;
}

std::vector<uint8_t> ClipPictureRgb24(int32_t width, int32_t height, int32_t index, int32_t noise,
                                      uint32_t seed) {
    return LayOut(ClipFrameRgb(width, height, index, noise, seed), width, height, HostFormat::Rgb24, false);
}

std::vector<int> DisplayLuma(const uint8_t* pixels, int32_t width, int32_t height, HostFormat format,
                             bool topDown) {
    const int bytes = BytesPerPixel(format);
    std::vector<int> luma(size_t(width) * size_t(height));
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* line =
            pixels + size_t(MemoryRow(row, height, format, topDown)) * size_t(width) * size_t(bytes);
        for (int32_t x = 0; x < width; ++x) {
            int value;
            if (format == HostFormat::Yuy2)
                value = line[size_t(x) * 2];
            else if (format == HostFormat::Uyvy)
                value = line[size_t(x) * 2 + 1];
            else {
                const uint8_t* p = line + size_t(x) * size_t(bytes);
                value = StudioY(p[2], p[1], p[0]);
            }
            luma[size_t(row) * size_t(width) + size_t(x)] = value;
        }
    }
    return luma;
}

double MeanAbsoluteDifference(const std::vector<int>& a, const std::vector<int>& b) {
    if (a.empty() || a.size() != b.size()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
    return sum / double(a.size());
}

}  // namespace rq43
