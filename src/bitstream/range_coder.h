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
void EncodeDecision(RangeEncoder& encoder, uint32_t bit, uint32_t p);
void ShiftOut(RangeEncoder& encoder);
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
uint32_t DecodeDecision(RangeDecoder& decoder, uint32_t p);

}  // namespace rq43
