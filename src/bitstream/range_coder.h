// Binary range coder with 8-bit probabilities: p (1..256) is the share, in 1/256 units, of decision 1,
// which takes the lower part of the interval.
#pragma once

#include <cstdint>

namespace rq43 {

struct RangeEncoder {
    uint32_t low = 0;
    uint32_t range = 0x1000000;
    uint32_t pendingFF = 0;
    uint32_t cache = 0;  // the stream's first byte until the first shift
    uint8_t* out = nullptr;
    uint8_t* end = nullptr;  // one past the last byte that may be written
    int32_t byteCount = 0;
    bool overflow = false;  // a byte fell beyond end and was dropped
};

// firstByte: 1 for token strings (it doubles as the mode marker), 0 for the intra-block and flag maps.
void StartRangeEncoder(RangeEncoder& encoder, uint8_t* out, uint8_t* end, uint8_t firstByte);

namespace detail {
// Renormalises by writing out settled bytes: the inline coder's rare slow path, not an entry point.
void ShiftOut(RangeEncoder& encoder);
}  // namespace detail

// Renormalises an interval the caller keeps in locals. Inline for the usual shift (a byte settled, with or
// without a carry into it, no 0xFF bytes held, room to write it), which is all ShiftOut's first round then
// does; low is below 2^25, so low >> 24 is the carry.
inline void Renormalise(RangeEncoder& encoder, uint32_t& low, uint32_t& range) {
    if (range > 0x10000) return;
    if (low - 0xFF0000u >= 0x10000u && encoder.pendingFF == 0 && encoder.out < encoder.end) {
        *encoder.out++ = static_cast<uint8_t>(encoder.cache + (low >> 24));
        encoder.cache = (low >> 16) & 0xFF;
        encoder.byteCount += 1;
        range <<= 8;
        low = (low & 0xFFFF) << 8;
        if (range > 0x10000) return;
    }
    encoder.low = low;
    encoder.range = range;
    detail::ShiftOut(encoder);
    low = encoder.low;
    range = encoder.range;
}

// Inline: one call per coded decision is the token coder's innermost loop.
inline void EncodeDecision(RangeEncoder& encoder, uint32_t bit, uint32_t p) {
    if (encoder.range <= 0x10000) detail::ShiftOut(encoder);
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
// Terminates the stream; afterwards byteCount is the exact length written.
void FlushRangeEncoder(RangeEncoder& encoder);

struct RangeDecoder {
    uint32_t value = 0;
    uint32_t range = 0;
    const uint8_t* in = nullptr;
    const uint8_t* end = nullptr;
    bool overrun = false;  // bytes beyond end were read as 0
};

// Skips the stream's first byte.
void StartRangeDecoder(RangeDecoder& decoder, const uint8_t* data, const uint8_t* end);

inline uint32_t NextRangeByte(RangeDecoder& decoder) {
    if (decoder.in < decoder.end) return *decoder.in++;
    decoder.overrun = true;
    return 0;
}

inline void RefillRangeDecoder(RangeDecoder& decoder) {
    while (decoder.range <= 0x10000) {
        decoder.value = (decoder.value << 8) | NextRangeByte(decoder);
        decoder.range <<= 8;
    }
}

// For decisions a predictor mostly guesses (skewed, or following their neighbours): the compiler may
// branch on the outcome, and a guessed branch lets the next decision start early.
inline uint32_t DecodeDecision(RangeDecoder& decoder, uint32_t p) {
    RefillRangeDecoder(decoder);
    const uint32_t split = p * (decoder.range >> 8);
    const uint32_t bit = decoder.value < split ? 1u : 0u;
    decoder.value -= bit != 0 ? 0 : split;
    decoder.range = bit != 0 ? split : decoder.range - split;
    return bit;
}

// The same decision without a branch, for streams whose decisions carry close to a bit each, which no
// predictor guesses. A plain comparison and select gets compiled into a branch, so the decision is the
// sign of value - split (it fits: value < range <= 1 << 24). Returns all ones for a 1, 0 for a 0.
inline uint32_t DecodeUnpredictableDecision(RangeDecoder& decoder, uint32_t p) {
    RefillRangeDecoder(decoder);
    const uint32_t split = p * (decoder.range >> 8);
    const auto one = static_cast<uint32_t>(static_cast<int32_t>(decoder.value - split) >> 31);
    decoder.value -= split & ~one;
    decoder.range = (split & one) | ((decoder.range - split) & ~one);
    return one;
}

}  // namespace rq43
