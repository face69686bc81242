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
