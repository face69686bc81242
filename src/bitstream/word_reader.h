// The fast counterpart of BitReader, for decoders that take many bits per step: it refills a word at a
// time and finds an overrun after the fact, from the bits taken against the bits the input holds.
#pragma once

#include <cstdint>

namespace rq43 {

// A most-significant-bit-first reader over [in, end) that reads zero bits past the end and counts every
// bit taken, so that running past the end is found after the fact.
struct WordReader {
    const uint8_t* in;
    const uint8_t* end;
    uint64_t acc = 0;    // left-aligned; bits below `count` may already hold what follows
    int32_t count = 0;   // bits of acc that are valid
    uint64_t taken = 0;  // bits consumed
    uint64_t limit;      // bits the input holds

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
    void Skip(int n) {
        acc <<= n;
        count -= n;
        taken += static_cast<uint64_t>(n);
    }
};

}  // namespace rq43
