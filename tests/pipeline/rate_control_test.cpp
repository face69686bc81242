#include "pipeline/rate_control.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace rq43 {
namespace {

// Runs the search against a stub coder that answers the given sizes in turn; returns the qualities tried.
std::vector<int32_t> Search(RateSearch& search, const std::vector<int64_t>& sizes,
                            int32_t runningOvershoot = 0) {
    std::vector<int32_t> tried;
    for (int64_t size : sizes) {
        tried.push_back(search.quality);
        if (!JudgeAttempt(search, size, runningOvershoot)) break;
    }
    return tried;
}

TEST(RateControlTest, WorkedSearchBisectsTowardsTheTarget) {
    RateSearch search = StartRateSearch(10000, 50, 75);
    EXPECT_EQ(search.tolerance, 501);
    EXPECT_EQ(Search(search, {14000, 8000, 9800}), (std::vector<int32_t>{50, 25, 37}));
    EXPECT_EQ(search.quality, 37);  // carried to the next frame
    EXPECT_EQ(search.lo, 26);
    EXPECT_EQ(search.hi, 49);
}

TEST(RateControlTest, NoTargetCodesOnce) {
    RateSearch search = StartRateSearch(0, 63, 90);
    EXPECT_FALSE(JudgeAttempt(search, 123456, 0));
    EXPECT_EQ(search.quality, 63);
}

TEST(RateControlTest, CeilingBelowTwoStopsAfterTheFirstAdjustment) {
    for (int32_t ceiling : {0, 1}) {
        RateSearch small = StartRateSearch(10000, 50, ceiling);
        EXPECT_FALSE(JudgeAttempt(small, 100, 0));  // too small: lo = 51 >= hi
        RateSearch big = StartRateSearch(10000, 1, ceiling);
        EXPECT_FALSE(JudgeAttempt(big, 50000, 0));  // too big: hi = 0
        EXPECT_EQ(big.quality, 0);
    }
}

TEST(RateControlTest, TooSmallStepsUpByTheGrowingStepWhenFarAboveTheMiddle) {
    // A carried quality above this frame's ceiling: q - mid exceeds the step, so q grows by the step.
    RateSearch search = StartRateSearch(10000, 90, 40);
    EXPECT_FALSE(JudgeAttempt(search, 100, 0));
    EXPECT_EQ(search.lo, 91);
    EXPECT_EQ(search.quality, 95);
}

TEST(RateControlTest, OvershootMakesLaterFramesAimLower) {
    // A first frame of 12000 bytes against 10000 leaves 2000 to make up.
    const int32_t overshoot = AccumulateOvershoot(0, 12000, 10000);
    EXPECT_EQ(overshoot, 2000);
    auto verdict = [&](int64_t total) {
        RateSearch search = StartRateSearch(10000, 50, 90);
        bool again = JudgeAttempt(search, total, overshoot);
        if (!again && search.quality == 50) return 0;
        return search.quality < 50 ? 1 : -1;  // 1: too big, -1: too small
    };
    EXPECT_EQ(verdict(7499), 0);
    EXPECT_EQ(verdict(8501), 0);
    EXPECT_EQ(verdict(7498), -1);
    EXPECT_EQ(verdict(8502), 1);
    EXPECT_EQ(verdict(10000), 1);  // on target before the overshoot, too big after it

    // An undershoot lets the next frame grow.
    EXPECT_EQ(AccumulateOvershoot(0, 7000, 10000), -3000);
}

TEST(RateControlTest, OvershootOnlyCountsAgainstADefaultTargetAndSaturates) {
    EXPECT_EQ(AccumulateOvershoot(0, 50000, 0), 0);
    EXPECT_EQ(AccumulateOvershoot(1234, 50000, 0), 1234);
    EXPECT_EQ(AccumulateOvershoot(INT32_MAX - 10, 5000, 100), INT32_MAX);
    EXPECT_EQ(AccumulateOvershoot(INT32_MIN + 10, 0, 5000), INT32_MIN);
    // A saturated overshoot still judges sizes without overflowing.
    RateSearch search = StartRateSearch(10000, 50, 90);
    EXPECT_TRUE(JudgeAttempt(search, 1 << 30, INT32_MAX));
    EXPECT_LT(search.quality, 50);
}

TEST(RateControlTest, SearchEndsForAnySizes) {
    for (int32_t carried : {-128, 0, 1, 50, 127}) {
        for (int32_t ceiling : {-56, 0, 40, 100, 127}) {
            for (int64_t size : {int64_t{0}, int64_t{9999}, int64_t{1} << 40}) {
                RateSearch search = StartRateSearch(10000, carried, ceiling);
                int attempts = 1;
                while (JudgeAttempt(search, size, 0)) ASSERT_LT(++attempts, 40);
            }
        }
    }
}

TEST(RateControlTest, OverflowShrinksTheQualityUntilNoneIsLeft) {
    RateSearch search = StartRateSearch(0, 8, 90);
    std::vector<int32_t> tried;
    while (ShrinkAfterOverflow(search)) tried.push_back(search.quality);
    EXPECT_EQ(tried, (std::vector<int32_t>{4, 2, 1, 0}));
}

}  // namespace
}  // namespace rq43
