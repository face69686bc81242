// Fixed-point colour conversion tables (units of 2^-18) and the 0..255 saturation table, shared by the
// input and output converters. Built once per process on first use; read-only afterwards, so any number
// of instances may convert at the same time.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace rq43 {

struct ColourTables {
    static constexpr int32_t kShift = 18;
    using Table = std::array<int32_t, 256>;
    // RGB -> YUV; the offsets (16, 128 and a half for rounding) sit in the red tables.
    Table tyR, tyG, tyB;
    Table tuR, tuG, tuB;
    Table tvR, tvG, tvB;
    // The Y and U entries of red, green and blue in one word each, Y in the low half and U in the high
    // half, for kernels that fetch both at once: Y entries are never negative and their sums stay below
    // 2^32, so three words add without the halves carrying into each other.
    using PairTable = std::array<int64_t, 256>;
    PairTable tyuR, tyuG, tyuB;
    // YUV -> RGB; the rounding half sits in ty.
    Table ty, trV, tgV, tgU, tbU;
};

struct ClampTable {
    static constexpr int32_t kLowest = -256;
    static constexpr int32_t kHighest = 510;
    std::array<uint8_t, kHighest - kLowest + 1> entries;

    // Saturates `index` to 0..255; indexes beyond the table saturate like its ends instead of reading
    // outside it.
    uint8_t operator[](int32_t index) const {
        return entries[static_cast<size_t>(std::clamp(index, kLowest, kHighest) - kLowest)];
    }
};

const ColourTables& GetColourTables();
const ClampTable& GetClampTable();

}  // namespace rq43
