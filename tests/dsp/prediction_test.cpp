// The vector measure of level prediction against the plain one, and the all-positions chooser against
// the choice made one position at a time.
#include "dsp/prediction.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dsp/dsp_levels.h"
#include "residual/coefficient_prediction.h"

namespace rq43 {
namespace {

struct Plane {
    int32_t across, down;
    std::vector<int16_t> values;
};

// Planes of every shape the measure special-cases (one block, one row, one column), with values that
// stay near the token range, cross it, or reach the 16-bit ends where differences wrap.
std::vector<Plane> Planes(int valuesPerBlock, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Plane> planes;
    const int ranges[] = {3, 300, 600, 32768};
    const int32_t shapes[][2] = {{1, 1}, {5, 1}, {1, 6}, {2, 2}, {13, 7}, {40, 30}};
    for (const auto& shape : shapes) {
        for (int range : ranges) {
            Plane plane{shape[0], shape[1], {}};
            plane.values.resize(static_cast<size_t>(shape[0] * shape[1] * valuesPerBlock));
            std::uniform_int_distribution<int> value(-range, range - 1);
            for (int16_t& v : plane.values) v = static_cast<int16_t>(value(random));
            planes.push_back(plane);
        }
        Plane extremes{shape[0], shape[1], {}};
        extremes.values.resize(static_cast<size_t>(shape[0] * shape[1] * valuesPerBlock));
        const int16_t ends[] = {-32768, 32767, 0, 580, -580, 581, -581};
        for (int16_t& v : extremes.values) v = ends[random() % 7];
        planes.push_back(extremes);
        // Smooth planes, which prediction pays for, with noise that sometimes pushes a difference out.
        Plane smooth{shape[0], shape[1], {}};
        for (int32_t y = 0; y < shape[1]; ++y)
            for (int32_t x = 0; x < shape[0]; ++x)
                for (int k = 0; k < valuesPerBlock; ++k)
                    smooth.values.push_back(
                        static_cast<int16_t>(400 + 9 * x - 5 * y * k + static_cast<int>(random() % 3)));
        planes.push_back(smooth);
    }
    return planes;
}

TEST(PredictionKernels, EveryLevelMeasuresAsThePlainKernel) {
    const dsp::MeasureModesKernel plain = MeasureModesFor(dsp::CpuLevel::C);
    for (dsp::CpuLevel level : test::SimdLevelsToCheck()) {
        const dsp::MeasureModesKernel vector = MeasureModesFor(level);
        for (const Plane& plane : Planes(dsp::kPredictionLanes, 11)) {
            dsp::ModeMeasures expected, actual;
            plain(plane.values.data(), plane.across, plane.down, 580, &expected);
            vector(plane.values.data(), plane.across, plane.down, 580, &actual);
            for (int mode = 0; mode < 4; ++mode) {
                for (int lane = 0; lane < dsp::kPredictionLanes; ++lane)
                    ASSERT_EQ(actual.cost[mode][lane], expected.cost[mode][lane])
                        << dsp::CpuLevelName(level) << " mode " << mode << " lane " << lane << " plane "
                        << plane.across << "x" << plane.down;
                ASSERT_EQ(actual.outOfRange[mode], expected.outOfRange[mode]) << dsp::CpuLevelName(level);
            }
        }
    }
}

TEST(PredictionKernels, AllPositionsChooseAsOneAtATime) {
    std::vector<dsp::CpuLevel> levels = test::SimdLevelsToCheck();
    levels.push_back(dsp::CpuLevel::C);
    int predicted = 0;
    for (const Plane& plane : Planes(64, 12)) {
        std::vector<int16_t> expected = plane.values;
        std::vector<int16_t> scratch(2 * static_cast<size_t>(plane.across));
        uint16_t expectedModes = 0;
        for (int i = 0; i < kPredictedPositionCount; ++i) {
            const PredictionMode mode = ChoosePredictionMode(expected.data() + kPredictedPositions[i],
                                                             plane.across, plane.down, scratch.data());
            expectedModes = static_cast<uint16_t>(expectedModes | mode << (2 * i));
        }
        if (expectedModes != 0) ++predicted;
        for (dsp::CpuLevel level : levels) {
            std::vector<int16_t> actual = plane.values;
            std::vector<int16_t> lanes(actual.size() / 8);
            EXPECT_EQ(ChoosePredictionModes(actual.data(), plane.across, plane.down, lanes.data(),
                                            MeasureModesFor(level)),
                      expectedModes)
                << dsp::CpuLevelName(level);
            EXPECT_EQ(actual, expected) << dsp::CpuLevelName(level);
        }
    }
    EXPECT_GT(predicted, 4);
}

}  // namespace
}  // namespace rq43
