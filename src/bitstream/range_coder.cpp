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

}  // namespace

void StartRangeEncoder(RangeEncoder& encoder, uint8_t* out, uint8_t* end, uint8_t firstByte) {
    encoder = RangeEncoder{};
    encoder.out = out;
    encoder.end = end;
    encoder.cache = firstByte;
}

void detail::ShiftOut(RangeEncoder& encoder) {
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
    if (encoder.range <= 0x10000) detail::ShiftOut(encoder);
    while (encoder.range > 0x10000) {
        uint32_t step = (encoder.range >> 8) * 64;
        encoder.low += step;
        encoder.range -= step;
    }
    detail::ShiftOut(encoder);
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
    NextRangeByte(decoder);
    decoder.value = NextRangeByte(decoder);
    decoder.range = 256;
}

}  // namespace rq43
