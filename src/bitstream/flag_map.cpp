#include "bitstream/flag_map.h"

#include <algorithm>

#include "bitstream/range_coder.h"

namespace rq43 {

namespace {

uint32_t FlagContext(const uint8_t* flags, size_t i, uint32_t across) {
    const uint32_t left = i % across != 0 ? flags[i - 1] : 0u;
    const uint32_t up = i >= across ? flags[i - across] : 0u;
    return left + 2 * up;
}

}  // namespace

size_t AppendFlagMap(const uint8_t* flags, size_t count, uint32_t across, std::vector<uint8_t>& out) {
    uint64_t total[4] = {0, 0, 0, 0}, ones[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < count; ++i) {
        const uint32_t context = FlagContext(flags, i, across);
        ++total[context];
        ones[context] += flags[i];
    }
    uint32_t probability[4];
    for (int c = 0; c < 4; ++c) {
        probability[c] =
            total[c] == 0 ? 256u : std::max<uint32_t>(1, static_cast<uint32_t>(ones[c] * 256 / total[c]));
    }
    const size_t start = out.size();
    // A flag costs at most one byte (a probability of 256 only where every flag is 1); growing is a guard.
    size_t capacity = count + 16;
    for (;;) {
        out.resize(start + kFlagMapProbabilityBytes + capacity);
        uint8_t* map = out.data() + start;
        for (int c = 0; c < 4; ++c) map[c] = static_cast<uint8_t>(probability[c] - 1);
        uint8_t* coded = map + kFlagMapProbabilityBytes;
        RangeEncoder encoder;
        StartRangeEncoder(encoder, coded, coded + capacity, 0);
        for (size_t i = 0; i < count; ++i) {
            EncodeDecision(encoder, flags[i], probability[FlagContext(flags, i, across)]);
        }
        FlushRangeEncoder(encoder);
        if (!encoder.overflow) {
            const size_t size = kFlagMapProbabilityBytes + static_cast<size_t>(encoder.byteCount);
            out.resize(start + size);
            return size;
        }
        capacity *= 2;
    }
}

bool ReadFlagMap(const uint8_t* map, const uint8_t* end, uint32_t across, uint8_t* flags, size_t count) {
    if (end < map || static_cast<size_t>(end - map) < kFlagMapProbabilityBytes) return false;
    uint32_t probability[4];
    for (int c = 0; c < 4; ++c) probability[c] = uint32_t{map[c]} + 1;
    RangeDecoder decoder;
    StartRangeDecoder(decoder, map + kFlagMapProbabilityBytes, end);
    for (size_t i = 0; i < count; ++i) {
        flags[i] = static_cast<uint8_t>(DecodeDecision(decoder, probability[FlagContext(flags, i, across)]));
    }
    return true;
}

}  // namespace rq43
