#include "pipeline/rate_control.h"

#include <algorithm>
#include <limits>

namespace rq43 {
namespace {

// A search normally ends within ten attempts (the interval halves); this only bounds hostile values.
constexpr int32_t kMaxAttempts = 32;

int32_t Saturate(int64_t value) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

int32_t RateTolerance(int32_t target) {
    return target / 20 + 1;
}

RateSearch StartRateSearch(int32_t target, int32_t carriedQuality, int32_t ceiling) {
    RateSearch search;
    search.target = target;
    search.tolerance = RateTolerance(target);
    search.quality = carriedQuality;
    search.lo = 1;
    search.hi = ceiling;
    return search;
}

bool JudgeAttempt(RateSearch& search, int64_t total, int32_t runningOvershoot) {
    if (search.target == 0) return false;
    const int64_t effective = total + runningOvershoot;
    const int64_t q = search.quality;
    if (effective - search.tolerance > search.target) {
        search.hi = Saturate(q - 1);
        search.quality = Saturate((q - 1 + search.lo) / 2);
    } else if (effective + search.tolerance < search.target) {
        search.lo = Saturate(q + 1);
        const int64_t mid = (q + 1 + search.hi) / 2;
        search.quality = Saturate(q - mid > search.step ? q + search.step : mid);
    } else {
        return false;
    }
    if (search.lo >= search.hi) return false;
    ++search.attempt;
    search.step *= 2;
    return search.attempt < kMaxAttempts;
}

bool ShrinkAfterOverflow(RateSearch& search) {
    if (search.quality <= 0 || search.attempt >= kMaxAttempts) return false;
    const int32_t lower = std::min(search.quality - 1, (search.quality - 1 + search.lo) / 2);
    search.hi = lower;
    search.lo = std::min(search.lo, lower);
    search.quality = lower;
    ++search.attempt;
    search.step *= 2;
    return true;
}

int32_t AccumulateOvershoot(int32_t runningOvershoot, int64_t total, int32_t defaultFrameSize) {
    if (defaultFrameSize == 0) return runningOvershoot;
    return Saturate(int64_t{runningOvershoot} + total - defaultFrameSize);
}

}  // namespace rq43
