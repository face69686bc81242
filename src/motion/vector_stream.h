// A self-contained, byte-aligned string of byte symbols: a count, the symbol weights from which both sides
// build the same prefix code tree, the codes, and zero padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace rq43 {

// Appends the stream of `symbols` to `out`; returns the bits written, a multiple of 8. The code depends
// only on the symbols that occur, not on the alphabet they come from.
uint32_t EncodeVectorStream(std::span<const uint8_t> symbols, std::vector<uint8_t>& out);

// Decodes the stream in `length` bytes at `in` into `symbols`. Refuses (false) a count of 0 or above
// maxCount, weights that describe no tree or not the count, symbol values beyond 255, and codes that run
// past the stream.
[[nodiscard]] bool DecodeVectorStream(const uint8_t* in, size_t length, uint32_t maxCount,
                                      std::vector<uint8_t>& symbols);

}  // namespace rq43
