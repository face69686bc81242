#include "bitstream/bit_reader.h"

namespace rq43 {

namespace {

uint32_t NextByte(BitReader& reader) {
    if (reader.in < reader.end) return *reader.in++;
    reader.overrun = true;
    return 0;
}

// Longest run code prefix a valid stream holds is 12 ones (run 4095); anything past this is corrupt.
constexpr uint32_t kLongestRunPrefix = 24;

}  // namespace

void StartBitReader(BitReader& reader, const uint8_t* in, const uint8_t* end) {
    reader.in = in;
    reader.end = end;
    reader.acc = 0;
    reader.count = 0;
    reader.overrun = false;
}

uint32_t ReadBits(BitReader& reader, int n) {
    while (reader.count < n) {
        reader.acc |= NextByte(reader) << (24 - reader.count);
        reader.count += 8;
    }
    uint32_t result = reader.acc >> (32 - n);
    reader.acc <<= n;
    reader.count -= n;
    return result;
}

uint32_t ReadBit(BitReader& reader) {
    if (reader.count == 0) {
        uint32_t word = NextByte(reader) << 24;
        word |= NextByte(reader) << 16;
        word |= NextByte(reader) << 8;
        word |= NextByte(reader);
        reader.acc = word;
        reader.count = 32;
    }
    uint32_t result = reader.acc >> 31;
    reader.acc <<= 1;
    reader.count -= 1;
    return result;
}

uint32_t ReadEobRun(BitReader& reader) {
    uint32_t ones = 0;
    while (ReadBits(reader, 1) != 0) {
        if (++ones > kLongestRunPrefix) return 1u << 25;  // larger than any frame's block count
    }
    if (ones <= 1) return ones;
    int low = static_cast<int>(ones) - 1;
    return (1u << low) + ReadBits(reader, low);
}

}  // namespace rq43
