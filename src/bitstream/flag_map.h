// A grid of 0/1 flags (intra luma blocks, vectors coded as differences), range-coded in raster order with
// four contexts: the left neighbour's flag + 2 x the upper neighbour's. Layout: per context its
// probability of a 1 minus one (in 1/256 units; 255 for a context that never occurs), then the flags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rq43 {

inline constexpr size_t kFlagMapProbabilityBytes = 4;

// Appends the map of count flags, across to a row; returns the bytes appended.
size_t AppendFlagMap(const uint8_t* flags, size_t count, uint32_t across, std::vector<uint8_t>& out);

// Decodes count flags from the map at [map, end); false when the probabilities do not fit. Reading past end
// yields zero bytes, never memory beyond it.
bool ReadFlagMap(const uint8_t* map, const uint8_t* end, uint32_t across, uint8_t* flags, size_t count);

}  // namespace rq43
