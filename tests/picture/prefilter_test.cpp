#include "picture/prefilter.h"

#include <gtest/gtest.h>

#include <vector>

#include "picture/picture_samples.h"

namespace rq43 {
namespace {

using test::Pixel;

// A frame whose 16 x 16 luma is `background` except for the 3 x 3 neighbourhood given, centred at (5, 5).
struct Neighbourhood {
    YuvFrame frame;
    explicit Neighbourhood(uint8_t background) {
        AllocateFrame(frame, 16, 16, 16);
        test::FillFrame(frame, [&](int, int, int) { return background; });
    }
    uint8_t& At(int dx, int dy) { return Pixel(frame.y, frame, 5 + dx, 5 + dy); }
    uint8_t FilterCentre(int32_t strength) {
        PrefilterPlane(1, frame, frame.y, strength, 16, 16);
        return At(0, 0);
    }
};

TEST(PrefilterTest, SmallDifferencesAreSmoothedAndEdgesSurvive) {
    Neighbourhood smooth(104);
    smooth.At(0, 0) = 100;
    EXPECT_EQ(smooth.FilterCentre(20), 107);  // S = 4 * 4 / 1.16 = 13.79

    Neighbourhood edge(100);
    edge.At(1, 0) = 200;
    EXPECT_EQ(edge.FilterCentre(20), 100);  // psi(100) = 100 / 101
}

TEST(PrefilterTest, NegativeSumsTruncateTowardZero) {
    // Neighbours one below the pixel: psi(-1) = -1 / 1.01 at strength 20.
    struct Case {
        int lowerNeighbours;
        int expected;
    };
    for (Case c : {Case{1, 100}, Case{2, 100}, Case{4, 99}}) {
        Neighbourhood n(100);
        const int offsets[4][2] = {{0, -1}, {0, 1}, {1, 0}, {-1, 0}};
        for (int i = 0; i < c.lowerNeighbours; ++i) n.At(offsets[i][0], offsets[i][1]) = 99;
        EXPECT_EQ(n.FilterCentre(20), c.expected) << c.lowerNeighbours;
    }
    // The same differences upward round the other way: 4 * 0.99 gives trunc(1.98 + 0.49) = 2.
    Neighbourhood up(101);
    up.At(0, 0) = 100;
    EXPECT_EQ(up.FilterCentre(20), 102);
}

TEST(PrefilterTest, ConstantPlaneIsAFixedPoint) {
    YuvFrame frame;
    AllocateFrame(frame, 32, 16, 16);
    test::FillFrame(frame, [](int, int, int) { return uint8_t{77}; });
    PrefilterFrame(frame, 20, 4);
    PrefilterFrame(frame, 1, 4);
    test::FillFrame(frame, [&](int plane, int x, int r) {
        uint8_t* p = plane == 0 ? frame.y : plane == 1 ? frame.u : frame.v;
        EXPECT_EQ(Pixel(p, frame, x, r), 77);
        return Pixel(p, frame, x, r);
    });
}

// Every new value comes from the old plane only: a plain two-buffer update.
std::vector<uint8_t> SimultaneousPass(const std::vector<uint8_t>& old, int width, int height,
                                      int32_t strength) {
    const float d = (1.0f / static_cast<float>(strength)) * 2.0f;
    auto psi = [&](int difference) {
        const auto x = static_cast<float>(difference);
        return x / ((x * d) * (x * d) + 1.0f);
    };
    std::vector<uint8_t> out(old.size());
    for (int r = 0; r < height; ++r) {
        for (int x = 0; x < width; ++x) {
            const int p = old[size_t(r * width + x)];
            auto q = [&](int nx, int nr) { return int(old[size_t(nr * width + nx)]) - p; };
            float sum = 0.0f;
            if (r > 0) sum += psi(q(x, r - 1));
            if (r + 1 < height) sum += psi(q(x, r + 1));
            if (x + 1 < width) sum += psi(q(x + 1, r));
            if (x > 0) sum += psi(q(x - 1, r));
            out[size_t(r * width + x)] =
                static_cast<uint8_t>(std::clamp(p + int(0.5f * sum + 0.49f), 0, 255));
        }
    }
    return out;
}

TEST(PrefilterTest, EveryPassIsASimultaneousUpdateAndLeavesTheBorderAlone) {
    for (int32_t strength : {1, 7, 20}) {
        YuvFrame frame;
        AllocateFrame(frame, 48, 32, 16);
        std::vector<uint8_t> noise(frame.bufferSize);
        test::FillRandom(noise, uint32_t(strength));
        // Mild noise keeps most differences in the smoothing range; a few large steps test edges.
        for (auto& byte : noise) byte = static_cast<uint8_t>(byte % 16 == 0 ? byte : 120 + byte % 12);
        std::copy(noise.begin(), noise.end(), frame.buffer);

        const int w = 24, h = 16;  // the U plane: its right border touches V's left border
        std::vector<uint8_t> expected(size_t(w * h));
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x) expected[size_t(r * w + x)] = Pixel(frame.u, frame, x, r);
        for (int pass = 0; pass < 3; ++pass) expected = SimultaneousPass(expected, w, h, strength);
        const std::vector<uint8_t> before(frame.buffer, frame.buffer + frame.bufferSize);
        PrefilterPlane(3, frame, frame.u, strength, uint32_t(w), uint32_t(h));

        for (size_t i = 0; i < frame.bufferSize; ++i) {
            const ptrdiff_t offset = frame.buffer + i - frame.u;
            const int r = int(offset / frame.stride), x = int(offset % frame.stride);
            if (offset >= 0 && r < h && x < w) {
                ASSERT_EQ(frame.buffer[i], expected[size_t(r * w + x)])
                    << "strength " << strength << " " << x << "," << r;
            } else {
                ASSERT_EQ(frame.buffer[i], before[i]) << "byte " << i << " outside the plane changed";
            }
        }
    }
}

TEST(PrefilterTest, ChromaTakesHalfThePassesRoundedUpAndStrengthZeroSkips) {
    const int expectedChromaPasses[5] = {0, 1, 1, 2, 2};
    for (int iterations = 0; iterations <= 4; ++iterations) {
        YuvFrame frame;
        YuvFrame reference;
        AllocateFrame(frame, 32, 32, 16);
        AllocateFrame(reference, 32, 32, 16);
        std::vector<uint8_t> noise(frame.bufferSize);
        test::FillRandom(noise, uint32_t(iterations));
        for (auto& byte : noise) byte = static_cast<uint8_t>(100 + byte % 20);
        std::copy(noise.begin(), noise.end(), frame.buffer);
        std::copy(noise.begin(), noise.end(), reference.buffer);

        PrefilterFrame(frame, 0, iterations);
        EXPECT_TRUE(std::equal(noise.begin(), noise.end(), frame.buffer));

        PrefilterFrame(frame, 10, iterations);
        PrefilterPlane(iterations, reference, reference.y, 10, 32, 32);
        PrefilterPlane(expectedChromaPasses[iterations], reference, reference.u, 10, 16, 16);
        PrefilterPlane(expectedChromaPasses[iterations], reference, reference.v, 10, 16, 16);
        EXPECT_TRUE(test::SamePicture(frame, reference)) << iterations;
        // One pass more or fewer on chroma would show.
        PrefilterPlane(1, reference, reference.u, 10, 16, 16);
        EXPECT_FALSE(test::SamePicture(frame, reference)) << iterations;
    }
}

}  // namespace
}  // namespace rq43
