#include "bitstream/range_coder.h"

namespace rq43 {

namespace {

void PutByte(RangeEncoder& encoder, uint32_t byte) {
    if (encoder.out < encoder.end) {
        *encoder.out++ = static_cast<uint8_t>(byte);
    } else {
        encoder.overflow = true;
    }
}

void PutHeldBytes(RangeEncoder& encoder, uint32_t byte) {
    for (; encoder.pendingFF != 0; --encoder.pendingFF) PutByte(encoder, byte);
}

uint32_t NextByte(RangeDecoder& decoder) {
    if (decoder.in < decoder.end) return *decoder.in++;
    decoder.overrun = true;
    return 0;
}

}  // namespace

void StartRangeEncoder(RangeEncoder& encoder, uint8_t* out, uint8_t* end, uint8_t firstByte) {
    encoder = RangeEncoder{};
    encoder.out = out;
    encoder.end = end;
    encoder.cache = firstByte;
}

void EncodeDecision(RangeEncoder& encoder, uint32_t bit, uint32_t p) {
    if (encoder.range <= 0x10000) ShiftOut(encoder);
    uint32_t split = p * (encoder.range >> 8);
    if (bit != 0) {
        encoder.range = split;
    } else {
        // p = 256 leaves no room for a 0; a caller error, but an empty range would never renormalise.
        if (split >= encoder.range) split = encoder.range - 1;
        encoder.low += split;
        encoder.range -= split;
    }
}

void ShiftOut(RangeEncoder& encoder) {
    while (encoder.range <= 0x10000) {
        if (encoder.low < 0xFF0000) {
            PutByte(encoder, encoder.cache);
            PutHeldBytes(encoder, 0xFF);
            encoder.cache = (encoder.low >> 16) & 0xFF;
        } else if ((encoder.low & 0x1000000) != 0) {
            PutByte(encoder, encoder.cache + 1);
            PutHeldBytes(encoder, 0x00);
            encoder.cache = (encoder.low >> 16) & 0xFF;
        } else {
            encoder.pendingFF += 1;
        }
        encoder.range <<= 8;
        encoder.low = (encoder.low & 0xFFFF) << 8;
        encoder.byteCount += 1;
    }
}

void FlushRangeEncoder(RangeEncoder& encoder) {
    // Starting the quarter steps from a wide range guarantees that the final interval, after one shift,
    // spans more than two byte positions, so a rounded-up final byte lands inside it whatever follows.
    if (encoder.range <= 0x10000) ShiftOut(encoder);
    while (encoder.range > 0x10000) {
        uint32_t step = (encoder.range >> 8) * 64;
        encoder.low += step;
        encoder.range -= step;
    }
    ShiftOut(encoder);
    encoder.byteCount += 2;
    uint32_t finalByte = (encoder.low >> 16) + ((encoder.low & 0xFFFF) != 0 ? 1u : 0u);
    if (finalByte <= 255) {
        PutByte(encoder, encoder.cache);
        PutHeldBytes(encoder, 0xFF);
        PutByte(encoder, finalByte);
    } else {
        PutByte(encoder, encoder.cache + 1);
        PutHeldBytes(encoder, 0x00);
        PutByte(encoder, finalByte - 256);
    }
}

void StartRangeDecoder(RangeDecoder& decoder, const uint8_t* data, const uint8_t* end) {
    decoder.in = data;
    decoder.end = end;
    decoder.overrun = false;
    NextByte(decoder);
    decoder.value = NextByte(decoder);
    decoder.range = 256;
}

uint32_t DecodeDecision(RangeDecoder& decoder, uint32_t p) {
    while (decoder.range <= 0x10000) {
        decoder.value = (decoder.value << 8) | NextByte(decoder);
        decoder.range <<= 8;
    }
    uint32_t split = p * (decoder.range >> 8);
    if (decoder.value < split) {
        decoder.range = split;
        return 1;
    }
    decoder.value -= split;
    decoder.range -= split;
    return 0;
}

}  // namespace rq43
