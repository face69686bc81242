// Reproducible moving pictures in the host's pixel formats: a smooth, blotchy texture with finer detail,
// panned by sub-pixel steps from frame to frame, with noise on top. Integer arithmetic only, so every
// build produces the same pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "host/host_format.h"

namespace rq43 {

// Frame `index` of the clip as display-order RGB triplets (row 0 is the top row), `noise` the amplitude
// of the added noise, `seed` chooses the texture.
std::vector<uint8_t> ClipFrameRgb(int32_t width, int32_t height, int32_t index, int32_t noise,
                                  uint32_t seed = 1);

// Lays a display-order RGB picture out as a host would hand it over: RGB bottom-up for a positive height
// and top-down for a negative one; YUY2 and UYVY top-down for either sign.
std::vector<uint8_t> LayOut(const std::vector<uint8_t>& rgb, int32_t width, int32_t height, HostFormat format,
                            bool topDown);

// Frame `index` of the clip as the usual host picture: bottom-up RGB24.
std::vector<uint8_t> ClipPictureRgb24(int32_t width, int32_t height, int32_t index, int32_t noise,
                                      uint32_t seed = 1);

// Approximate studio-range luma of a host picture in display order (row 0 is the top row).
std::vector<int> DisplayLuma(const uint8_t* pixels, int32_t width, int32_t height, HostFormat format,
                             bool topDown);

// Mean absolute difference of two luma pictures of the same size.
double MeanAbsoluteDifference(const std::vector<int>& a, const std::vector<int>& b);

}  // namespace rq43
