#include "bitstream/bit_writer.h"

namespace rq43 {

void StartBitWriter(BitWriter& writer, uint8_t* out, uint8_t* end, int32_t totalBits) {
    writer.out = out;
    writer.end = end;
    writer.acc = 0;
    writer.pending = 0;
    writer.totalBits = totalBits;
    writer.overflow = false;
}

void FlushBitWriter(BitWriter& writer) {
    if (writer.pending != 0) WriteBits(writer, 0, 8 - writer.pending);
}

void WriteEobRun(BitWriter& writer, uint32_t value) {
    int g = 0;
    while (g < 32 && (value >> g) != 0) ++g;
    if (g == 0) {
        WriteBits(writer, 0, 1);
        return;
    }
    WriteBits(writer, ((1u << g) - 1u) << 1, g + 1);
    WriteBits(writer, value - (1u << (g - 1)), g - 1);
}

}  // namespace rq43
