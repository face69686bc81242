// Most-significant-bit-first bit fields into a bounded buffer.
#pragma once

#include <cstdint>

namespace rq43 {

struct BitWriter {
    uint8_t* out = nullptr;
    uint8_t* end = nullptr;  // one past the last byte that may be written
    uint32_t acc = 0;        // pending bits, left-aligned
    int32_t pending = 0;     // bits held in acc (0..7 between calls)
    int32_t totalBits = 0;   // all bits ever appended
    bool overflow = false;   // a byte fell beyond end and was dropped
};

void StartBitWriter(BitWriter& writer, uint8_t* out, uint8_t* end, int32_t totalBits = 0);

inline void PutWriterByte(BitWriter& writer, uint32_t byte) {
    if (writer.out < writer.end) {
        *writer.out++ = static_cast<uint8_t>(byte);
    } else {
        writer.overflow = true;
    }
}

// Appends the n low bits of value (n = 0..24), most significant first; value must be below 2^n.
// Inline: the token coder writes every token's extra bits through it.
inline void WriteBits(BitWriter& writer, uint32_t value, int n) {
    if (n <= 0) return;
    // A value wider than its field would corrupt the fields before it: keep only its n bits.
    value &= (1u << n) - 1u;
    writer.pending += n;
    writer.totalBits += n;
    writer.acc |= value << (32 - writer.pending);
    while (writer.pending >= 8) {
        PutWriterByte(writer, writer.acc >> 24);
        writer.acc <<= 8;
        writer.pending -= 8;
    }
}

// Pads with zero bits to a byte boundary and writes the last byte.
void FlushBitWriter(BitWriter& writer);

// Run code: v = 0 is "0"; otherwise g one-bits (g = significant bits of v), a zero, then the g - 1 bits
// of v below its leading one.
void WriteEobRun(BitWriter& writer, uint32_t value);

}  // namespace rq43
