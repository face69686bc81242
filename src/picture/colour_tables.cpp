#include "picture/colour_tables.h"

namespace rq43 {
namespace {

constexpr int32_t kScale = 1 << ColourTables::kShift;

// Entry = factor * S * coefficient + first + second, truncated toward zero. In single precision every
// intermediate is stored in a float so that each product and sum is rounded in the order written (the
// build also forbids contraction into fused multiply-adds). factor * S is exact in either precision.
int32_t SingleEntry(int32_t factor, float coefficient, float first = 0.0f, float second = 0.0f) {
    const float scaled = static_cast<float>(factor) * static_cast<float>(kScale);
    const float product = scaled * coefficient;
    const float withFirst = product + first;
    const float sum = withFirst + second;
    return static_cast<int32_t>(sum);
}

int32_t DoubleEntry(int32_t factor, double coefficient, double first = 0.0, double second = 0.0) {
    const double scaled = static_cast<double>(factor) * kScale;
    return static_cast<int32_t>(scaled * coefficient + first + second);
}

ColourTables BuildColourTables() {
    ColourTables t{};
    constexpr float half = 0.5f * kScale;
    constexpr double chromaOffset = 128.0 * kScale;
    for (int32_t i = 0; i < 256; ++i) {
        const auto n = static_cast<size_t>(i);
        t.tyR[n] = SingleEntry(i, 0.256788f, half, 16.0f * kScale);
        t.tyG[n] = SingleEntry(i, 0.504129f);
        t.tyB[n] = SingleEntry(i, 0.097906f);
        t.tuR[n] = DoubleEntry(i, -0.148223, chromaOffset, 0.5 * kScale);
        t.tuG[n] = DoubleEntry(i, -0.290993);
        t.tuB[n] = DoubleEntry(i, 0.439216);
        t.tvR[n] = DoubleEntry(i, 0.439216, chromaOffset, 0.5 * kScale);
        t.tvG[n] = DoubleEntry(i, -0.367788);
        t.tvB[n] = DoubleEntry(i, -0.071427);
        t.ty[n] = SingleEntry(i - 16, 1.164383f, half);
        t.trV[n] = SingleEntry(i - 128, 1.596027f);
        t.tgV[n] = SingleEntry(i - 128, -0.812968f);
        t.tgU[n] = SingleEntry(i - 128, -0.391762f);
        t.tbU[n] = SingleEntry(i - 128, 2.017232f);
    }
    auto pair = [](int32_t y, int32_t u) {
        return static_cast<int64_t>(uint64_t{static_cast<uint32_t>(u)} << 32 | static_cast<uint32_t>(y));
    };
    for (size_t n = 0; n < 256; ++n) {
        t.tyuR[n] = pair(t.tyR[n], t.tuR[n]);
        t.tyuG[n] = pair(t.tyG[n], t.tuG[n]);
        t.tyuB[n] = pair(t.tyB[n], t.tuB[n]);
    }
    return t;
}

ClampTable BuildClampTable() {
    ClampTable table{};
    for (int32_t index = ClampTable::kLowest; index <= ClampTable::kHighest; ++index) {
        table.entries[static_cast<size_t>(index - ClampTable::kLowest)] =
            static_cast<uint8_t>(std::clamp(index, 0, 255));
    }
    return table;
}

}  // namespace

// Function-local statics: built exactly once, before any caller reads them, whatever the threads.
const ColourTables& GetColourTables() {
    static const ColourTables tables = BuildColourTables();
    return tables;
}

const ClampTable& GetClampTable() {
    static const ClampTable table = BuildClampTable();
    return table;
}

}  // namespace rq43
