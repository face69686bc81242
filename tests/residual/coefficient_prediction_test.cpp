#include "residual/coefficient_prediction.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace rq43 {
namespace {

// A plane of across x down blocks where only the tested position (offset 0 of each block) matters.
struct Plane {
    int32_t across, down;
    std::vector<int16_t> levels;
    Plane(int32_t a, int32_t d) : across(a), down(d), levels(static_cast<size_t>(a * d * 64), 0) {}
    int16_t& at(int32_t x, int32_t y) { return levels[static_cast<size_t>((y * across + x) * 64)]; }
};

PredictionMode Choose(Plane& plane) {
    std::vector<int16_t> scratch(static_cast<size_t>(2 * plane.across));
    return ChoosePredictionMode(plane.levels.data(), plane.across, plane.down, scratch.data());
}

// The decoder's undo, row by row, against the restored previous row.
void Undo(Plane& plane, uint8_t mode) {
    UndoFirstRowPrediction(plane.across, &plane.at(0, 0));
    for (int32_t y = 1; y < plane.down; ++y)
        PredictCoefficientRow(plane.across, &plane.at(0, y - 1), &plane.at(0, y), mode);
}

TEST(CoefficientPrediction, FlatPlaneChoosesMedian) {
    Plane plane(4, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x) plane.at(x, y) = 12;
    EXPECT_EQ(Choose(plane), kPredictMedian);
    EXPECT_EQ(plane.at(0, 0), 12);
    for (int32_t i = 1; i < 12; ++i) EXPECT_EQ(plane.levels[static_cast<size_t>(i * 64)], 0);
}

TEST(CoefficientPrediction, TiesKeepTheLowerMode) {
    Plane zero(3, 2);
    EXPECT_EQ(Choose(zero), kPredictNone);  // all costs 0: mode 0 stays

    // One row high: modes 1..3 cost the same, so median wins whenever it beats mode 0.
    Plane row(4, 1);
    const int16_t values[4] = {5, 6, 7, 8};
    for (int32_t x = 0; x < 4; ++x) row.at(x, 0) = values[x];
    EXPECT_EQ(Choose(row), kPredictMedian);
    EXPECT_EQ(row.at(0, 0), 5);
    EXPECT_EQ(row.at(3, 0), 1);

    // cost0 = 3 equals cost1..3 = 2 + 1: kept unpredicted.
    Plane tie(2, 1);
    tie.at(0, 0) = 2;
    tie.at(1, 0) = 1;
    EXPECT_EQ(Choose(tie), kPredictNone);
    EXPECT_EQ(tie.at(1, 0), 1);
}

Plane FromRows(int32_t across, std::initializer_list<std::initializer_list<int>> rows) {
    Plane plane(across, static_cast<int32_t>(rows.size()));
    int32_t y = 0;
    for (const auto& row : rows) {
        int32_t x = 0;
        for (int v : row) plane.at(x++, y) = static_cast<int16_t>(v);
        ++y;
    }
    return plane;
}

TEST(CoefficientPrediction, StrictlyCheaperModesWin) {
    // Up: costs 10 (up), 20 (median), 30 (left) against 20 unpredicted.
    Plane up = FromRows(4, {{0, 0, 0, 0}, {10, 0, 0, 0}, {10, 0, 0, 0}});
    EXPECT_EQ(Choose(up), kPredictUp);
    EXPECT_EQ(up.at(0, 1), 10);
    EXPECT_EQ(up.at(1, 1), 0);
    EXPECT_EQ(up.at(0, 2), 0);

    // Left: 10 against 20 (median), 40 (up) and 30 unpredicted.
    Plane left = FromRows(4, {{0, 10, 10, 10}, {0, 0, 0, 0}});
    EXPECT_EQ(Choose(left), kPredictLeft);
    EXPECT_EQ(left.at(1, 0), 10);
    EXPECT_EQ(left.at(2, 0), 0);
    EXPECT_EQ(left.at(1, 1), 0);

    // Median and up tie on column-constant planes: the lower mode number wins.
    Plane columns = FromRows(3, {{3, 13, 23}, {3, 13, 23}, {3, 13, 23}});
    EXPECT_EQ(Choose(columns), kPredictMedian);
}

TEST(CoefficientPrediction, OneBlockWidePredictsFromAbove) {
    Plane column(1, 3);
    column.at(0, 0) = 4;
    column.at(0, 1) = 6;
    column.at(0, 2) = 9;
    const PredictionMode mode = Choose(column);
    EXPECT_NE(mode, kPredictNone);
    EXPECT_EQ(column.at(0, 1), 2);
    EXPECT_EQ(column.at(0, 2), 3);
}

TEST(CoefficientPrediction, DifferencesOutsideTheTokenRangeFallBackToNone) {
    // Levels of +-400 side by side differ by 800, which no token carries.
    Plane plane(6, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 6; ++x) plane.at(x, y) = static_cast<int16_t>(x % 2 ? 400 : -400);
    const std::vector<int16_t> before = plane.levels;
    EXPECT_EQ(Choose(plane), kPredictNone);  // up would be cheapest, but the first row breaks the range
    EXPECT_EQ(plane.levels, before);
}

TEST(CoefficientPrediction, MedianIsLimitedBetweenLeftAndUp) {
    // count 1: only the first block's up prediction.
    int16_t above[64] = {}, current[64] = {};
    above[0] = 7;
    current[0] = 1;
    PredictCoefficientRow(1, above, current, kPredictMedian);
    EXPECT_EQ(current[0], 8);

    // a = 10 (restored left), b = 20 (up), c = 5 (up-left): 25 is limited to 20.
    int16_t up[128] = {}, row[128] = {};
    up[0] = 5;
    up[64] = 20;
    row[0] = 5;  // becomes 10 after adding up[0]
    row[64] = 1;
    PredictCoefficientRow(2, up, row, kPredictMedian);
    EXPECT_EQ(row[0], 10);
    EXPECT_EQ(row[64], 21);

    // Below the range: a = 10, b = 20, c = 40 gives -10, limited to 10.
    up[0] = 40;
    row[0] = -30;
    row[64] = 0;
    PredictCoefficientRow(2, up, row, kPredictMedian);
    EXPECT_EQ(row[64], 10);

    // Unknown modes add only the first block's prediction.
    row[0] = 0;
    row[64] = 0;
    PredictCoefficientRow(2, up, row, 7);
    EXPECT_EQ(row[0], 40);
    EXPECT_EQ(row[64], 0);
}

TEST(CoefficientPrediction, DecoderUndoRestoresRandomPlanes) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> level(-12, 12), size(1, 9);
    for (int trial = 0; trial < 300; ++trial) {
        Plane plane(size(random), size(random));
        int drift = level(random);
        for (auto& v : plane.levels) v = 0;
        for (int32_t y = 0; y < plane.down; ++y)
            for (int32_t x = 0; x < plane.across; ++x)
                plane.at(x, y) = static_cast<int16_t>(drift * (trial % 3 == 0 ? x : y) + level(random) / 4);
        const std::vector<int16_t> original = plane.levels;
        const PredictionMode mode = Choose(plane);
        if (mode != kPredictNone) Undo(plane, mode);
        ASSERT_EQ(plane.levels, original) << "trial " << trial << " mode " << int{mode};
    }
}

}  // namespace
}  // namespace rq43
