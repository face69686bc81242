// The per-frame search over the quality value that steers each compressed frame towards the host's byte
// target, and the running overshoot that carries the size error of one frame into the next ones.
// All the search's state lives in RateSearch; the compression sequence codes one attempt per quality
// the search asks for and hands back its size.
#pragma once

#include <cstdint>

namespace rq43 {

// Give-or-take around the target within which a frame is accepted.
int32_t RateTolerance(int32_t target);

struct RateSearch {
    int32_t target = 0;  // bytes; 0 = no target, every frame is coded once
    int32_t tolerance = 1;
    int32_t quality = 0;  // q of the next attempt; after the search stops, the quality carried on
    int32_t lo = 1;
    int32_t hi = 0;    // this frame's ceiling, lowered by attempts that came out too big
    int64_t step = 5;  // grows with every attempt
    int32_t attempt = 0;
};

// The search of one frame: first attempt at the quality the previous frame ended with.
RateSearch StartRateSearch(int32_t target, int32_t carriedQuality, int32_t ceiling);

// Judges the attempt just coded at search.quality that came out at `total` bytes. True: another attempt
// is due, at the new search.quality. False: the search stops and the last attempt's frame stands;
// search.quality (adjusted, perhaps never coded) is what the next frame starts from.
// The effective size counts the bytes earlier frames overshot, so an overshoot makes later frames aim
// lower and an undershoot lets them grow.
bool JudgeAttempt(RateSearch& search, int64_t total, int32_t runningOvershoot);

// An attempt that does not fit the host's output buffer: the search must go lower whatever the target
// says. False when there is no lower quality left to try.
bool ShrinkAfterOverflow(RateSearch& search);

// runningOvershoot after a frame of `total` bytes coded against the default target. Without a default
// target the overshoot has no meaning and stays as it is; it saturates instead of overflowing.
int32_t AccumulateOvershoot(int32_t runningOvershoot, int64_t total, int32_t defaultFrameSize);

}  // namespace rq43
