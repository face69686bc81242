// Most-significant-bit-first bit fields from a bounded buffer. Reading past the end yields zero bits and
// sets `overrun`, so corrupt data can never make the reader touch memory beyond its input.
#pragma once

#include <cstdint>

namespace rq43 {

struct BitReader {
    const uint8_t* in = nullptr;
    const uint8_t* end = nullptr;
    uint32_t acc = 0;     // valid bits, left-aligned
    int32_t count = 0;    // valid bits in acc
    bool overrun = false; // a byte beyond end was asked for (and read as 0)
};

void StartBitReader(BitReader& reader, const uint8_t* in, const uint8_t* end);

uint32_t ReadBits(BitReader& reader, int n);  // n = 1..24
uint32_t ReadBit(BitReader& reader);          // refills a whole 32-bit word when empty
uint32_t ReadEobRun(BitReader& reader);       // one run code

}  // namespace rq43
