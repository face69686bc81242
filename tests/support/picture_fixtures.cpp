#include "support/picture_fixtures.h"

#include <algorithm>
#include <cstddef>
#include <random>

namespace rq43::testing {
namespace {

void PaintPlane(uint8_t* plane, int32_t stride, uint32_t width, uint32_t height, std::mt19937& random,
                int noise) {
    std::uniform_int_distribution<int> jitter(-noise, noise);
    const int slopeX = static_cast<int>(random() % 5), slopeY = static_cast<int>(random() % 5);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const int value =
                40 + (slopeX * static_cast<int>(x) + slopeY * static_cast<int>(y)) % 180 + jitter(random);
            plane[static_cast<ptrdiff_t>(y) * stride + x] = static_cast<uint8_t>(std::clamp(value, 0, 255));
        }
    }
}

}  // namespace

void PaintFrame(YuvFrame& frame, uint32_t seed, int noise) {
    std::mt19937 random(seed);
    PaintPlane(frame.y, frame.stride, frame.width, frame.height, random, noise);
    PaintPlane(frame.u, frame.stride, frame.width / 2, frame.height / 2, random, noise);
    PaintPlane(frame.v, frame.stride, frame.width / 2, frame.height / 2, random, noise);
}

void PaintDifference(DifferenceFrame& difference, uint32_t seed, int noise) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> jitter(-noise, noise);
    const int32_t w = difference.width, h = difference.height;
    auto paint = [&](int16_t* plane, int32_t width, int32_t height) {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                plane[static_cast<ptrdiff_t>(y) * w + x] =
                    static_cast<int16_t>(128 + (x + 2 * y) % 9 - 4 + jitter(random));
    };
    paint(difference.y, w, h);
    paint(difference.u, w / 2, h / 2);
    paint(difference.v, w / 2, h / 2);
}

}  // namespace rq43::testing
