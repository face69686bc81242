#include "bitstream/bit_reader.h"

namespace rq43 {

void StartBitReader(BitReader& reader, const uint8_t* in, const uint8_t* end) {
    reader.in = in;
    reader.end = end;
    reader.acc = 0;
    reader.count = 0;
    reader.overrun = false;
}

uint32_t ReadEobRun(BitReader& reader) {
    uint32_t ones = 0;
    while (ReadBits(reader, 1) != 0) {
        if (++ones > uint32_t{kLongestRunPrefix}) return 1u << 25;  // larger than any frame's block count
    }
    if (ones <= 1) return ones;
    int low = static_cast<int>(ones) - 1;
    return (1u << low) + ReadBits(reader, low);
}

}  // namespace rq43
