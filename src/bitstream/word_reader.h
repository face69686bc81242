// The fast counterpart of BitReader, for decoders that take many bits per step: it refills a word at a
// time and finds an overrun after the fact, from the bits taken against the bits the input holds.
#pragma once

#include <bit>
#include <cstdint>

#include "bitstream/bit_reader.h"

namespace rq43 {

// A most-significant-bit-first reader over [in, end) that reads zero bits past the end and counts every
// bit taken, so that running past the end is found after the fact.
struct WordReader {
    const uint8_t* in = nullptr;
    const uint8_t* end = nullptr;
    uint64_t acc = 0;    // left-aligned; bits below `count` may already hold what follows
    int32_t count = 0;   // bits of acc that are valid
    uint64_t taken = 0;  // bits consumed
    uint64_t limit = 0;  // bits the input holds

    WordReader() = default;
    WordReader(const uint8_t* from, const uint8_t* to)
        : in(from), end(to), limit(8 * static_cast<uint64_t>(to - from)) {}

    // At least 57 valid bits afterwards.
    void Refill() {
        if (end - in >= 8) {
            uint64_t word = 0;
            for (int k = 0; k < 8; ++k) word = (word << 8) | in[k];
            acc |= word >> count;
            in += (63 - count) >> 3;
            count |= 56;
            return;
        }
        for (; count <= 56; count += 8) acc |= uint64_t{in < end ? *in++ : 0u} << (56 - count);
    }
    uint32_t Peek(int n) const { return static_cast<uint32_t>(acc >> (64 - n)); }
    // n = 0..32: a field that may be empty, without a branch.
    uint32_t PeekUpTo32(int n) const { return static_cast<uint32_t>((acc >> 32) >> (32 - n)); }
    void Skip(int n) {
        acc <<= n;
        count -= n;
        taken += static_cast<uint64_t>(n);
    }
};

// One run code, as ReadEobRun of BitReader reads it (the same value, and the same refusal of an endless
// prefix); needs at least 48 valid bits.
inline uint32_t ReadEobRun(WordReader& reader) {
    const int ones = std::countl_one(reader.acc);
    if (ones > kLongestRunPrefix) {
        reader.Skip(kLongestRunPrefix + 1);
        return 1u << 25;  // larger than any frame's block count
    }
    reader.Skip(ones + 1);
    if (ones <= 1) return static_cast<uint32_t>(ones);
    const int low = ones - 1;
    const uint32_t value = (1u << low) + reader.Peek(low);
    reader.Skip(low);
    return value;
}

}  // namespace rq43
