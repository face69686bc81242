// Most-significant-bit-first bit fields from a bounded buffer. Reading past the end yields zero bits and
// sets `overrun`, so corrupt data can never make the reader touch memory beyond its input.
#pragma once

#include <cstdint>

namespace rq43 {

struct BitReader {
    const uint8_t* in = nullptr;
    const uint8_t* end = nullptr;
    uint32_t acc = 0;      // valid bits, left-aligned
    int32_t count = 0;     // valid bits in acc
    bool overrun = false;  // a byte beyond end was asked for (and read as 0)
};

void StartBitReader(BitReader& reader, const uint8_t* in, const uint8_t* end);

// The longest run code prefix a valid stream holds is 12 ones (run 4095); anything past this is corrupt.
constexpr int kLongestRunPrefix = 24;

uint32_t ReadEobRun(BitReader& reader);  // one run code

// Inline: the token decoder reads a field or two per token.
inline uint32_t NextReaderByte(BitReader& reader) {
    if (reader.in < reader.end) return *reader.in++;
    reader.overrun = true;
    return 0;
}

// n = 1..24
inline uint32_t ReadBits(BitReader& reader, int n) {
    while (reader.count < n) {
        reader.acc |= NextReaderByte(reader) << (24 - reader.count);
        reader.count += 8;
    }
    uint32_t result = reader.acc >> (32 - n);
    reader.acc <<= n;
    reader.count -= n;
    return result;
}

// Refills a whole 32-bit word when empty.
inline uint32_t ReadBit(BitReader& reader) {
    if (reader.count == 0) {
        uint32_t word = NextReaderByte(reader) << 24;
        word |= NextReaderByte(reader) << 16;
        word |= NextReaderByte(reader) << 8;
        word |= NextReaderByte(reader);
        reader.acc = word;
        reader.count = 32;
    }
    uint32_t result = reader.acc >> 31;
    reader.acc <<= 1;
    reader.count -= 1;
    return result;
}

}  // namespace rq43
