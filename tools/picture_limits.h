// The largest pictures the program hands on: what the codec takes (its compressed-size answer,
// 4 × pixels + 8 bytes, must fit 32 bits) and what an AVI header can describe (16-bit sides).
#pragma once

#include <cstdint>
#include <string>

namespace rq43::cli {

inline constexpr int64_t kMaxCodecPixels = (INT32_MAX - 8) / 4;
inline constexpr int kMaxPictureSide = 65535;

// Throws Failure naming `name` when a source of width × height, padded to multiples of 16, is too
// large; called before anything of that size is allocated.
void CheckPictureSize(int64_t width, int64_t height, const std::string& name);

// Throws Failure naming `name` unless num:den is a frame rate the container and libavformat can hold
// (both terms 1..2^31-1 once reduced).
void CheckFrameRate(uint64_t num, uint64_t den, const std::string& name);

}  // namespace rq43::cli
