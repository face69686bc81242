#include "bitstream/bit_writer.h"

namespace rq43 {

namespace {

void PutByte(BitWriter& writer, uint32_t byte) {
    if (writer.out < writer.end) {
        *writer.out++ = static_cast<uint8_t>(byte);
    } else {
        writer.overflow = true;
    }
}

}  // namespace

void StartBitWriter(BitWriter& writer, uint8_t* out, uint8_t* end, int32_t totalBits) {
    writer.out = out;
    writer.end = end;
    writer.acc = 0;
    writer.pending = 0;
    writer.totalBits = totalBits;
    writer.overflow = false;
}

void WriteBits(BitWriter& writer, uint32_t value, int n) {
    if (n <= 0) return;
    // A value wider than its field would corrupt the fields before it: keep only its n bits.
    value &= (1u << n) - 1u;
    writer.pending += n;
    writer.totalBits += n;
    writer.acc |= value << (32 - writer.pending);
    while (writer.pending >= 8) {
        PutByte(writer, writer.acc >> 24);
        writer.acc <<= 8;
        writer.pending -= 8;
    }
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
