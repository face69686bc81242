// Pictures and difference frames with reproducible content: smooth gradients (which coefficient
// prediction likes) with noise of a chosen strength on top (which gives large levels).
#pragma once

#include <cstdint>

#include "picture/difference_frame.h"
#include "picture/yuv_frame.h"

namespace rq43::testing {

void PaintFrame(YuvFrame& frame, uint32_t seed, int noise);
// Samples 128 + a slow ramp + noise in -noise..noise, the shape of a motion-compensated difference.
void PaintDifference(DifferenceFrame& difference, uint32_t seed, int noise);

}  // namespace rq43::testing
