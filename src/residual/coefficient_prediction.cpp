#include "residual/coefficient_prediction.h"

#include <cstddef>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/cpu_level.h"
#include "residual/token_stream.h"
#include "transform/fixed_point.h"

namespace rq43 {
namespace {

constexpr ptrdiff_t kBlockStride = 64;

int16_t Median(int16_t left, int16_t up, int16_t upLeft) {
    const int16_t p = Wrap16(int32_t{left} + up - upLeft);
    if (left > up) return p < up ? up : p > left ? left : p;
    return p < left ? left : p > up ? up : p;
}

int16_t Predict(uint8_t mode, int16_t left, int16_t up, int16_t upLeft) {
    switch (mode) {
        case kPredictMedian:
            return Median(left, up, upLeft);
        case kPredictLeft:
            return left;
        default:
            return up;
    }
}

struct ModeCosts {
    int64_t cost[4] = {0, 0, 0, 0};
    bool outOfRange[4] = {false, false, false, false};
    int32_t limit = kLargestLevel;

    // A difference that all three predicting modes share (first row, first column).
    void AddShared(int16_t value, int16_t predicted) {
        for (int mode = 1; mode < 4; ++mode) Add(mode, value, predicted);
    }
    void Add(int mode, int16_t value, int16_t predicted) {
        cost[mode] += std::abs(int32_t{value} - predicted);
        const int16_t difference = Wrap16(int32_t{value} - predicted);
        if (difference > limit || difference < -limit) outOfRange[mode] = true;
    }
};

// blockStride: values between one block's level and the next block's.
ModeCosts MeasureModes(const int16_t* levels, int32_t across, int32_t down,
                       ptrdiff_t blockStride = kBlockStride, int32_t limit = kLargestLevel) {
    ModeCosts costs;
    costs.limit = limit;
    const ptrdiff_t rowStride = ptrdiff_t{across} * blockStride;
    for (int32_t y = 0; y < down; ++y) {
        const int16_t* row = levels + y * rowStride;
        const int16_t* above = y > 0 ? row - rowStride : row;  // unread in the first row
        for (int32_t x = 0; x < across; ++x) {
            const int16_t v = row[x * blockStride];
            costs.cost[0] += std::abs(int32_t{v});
            if (y == 0 && x == 0) {
                for (int mode = 1; mode < 4; ++mode) costs.cost[mode] += std::abs(int32_t{v});
            } else if (y == 0) {
                costs.AddShared(v, row[(x - 1) * blockStride]);
            } else if (x == 0) {
                costs.AddShared(v, above[0]);
            } else {
                // The three predictions spelled out: this loop runs for every block of every plane.
                const int16_t left = row[(x - 1) * blockStride];
                const int16_t up = above[x * blockStride];
                costs.Add(kPredictMedian, v, Median(left, up, above[(x - 1) * blockStride]));
                costs.Add(kPredictLeft, v, left);
                costs.Add(kPredictUp, v, up);
            }
        }
    }
    return costs;
}

PredictionMode PickMode(const ModeCosts& c) {
    if (c.cost[3] < c.cost[0] && c.cost[3] < c.cost[1] && c.cost[3] < c.cost[2]) return kPredictUp;
    if (c.cost[2] < c.cost[0] && c.cost[2] < c.cost[1]) return kPredictLeft;
    if (c.cost[1] < c.cost[0]) return kPredictMedian;
    return kPredictNone;
}

// Every prediction reads the original levels, so each row's differences wait in scratch until the next
// row has been formed.
void ApplyMode(int16_t* levels, int32_t across, int32_t down, int16_t* scratch, uint8_t mode) {
    auto at = [&](int32_t x, int32_t y) -> int16_t& {
        return levels[(ptrdiff_t{y} * across + x) * kBlockStride];
    };
    for (int32_t y = 0; y <= down; ++y) {
        int16_t* current = scratch + (y % 2) * across;
        int16_t* previous = scratch + ((y + 1) % 2) * across;
        if (y < down) {
            for (int32_t x = 0; x < across; ++x) {
                int16_t predicted = 0;
                if (y == 0 && x > 0)
                    predicted = at(x - 1, 0);
                else if (y > 0 && x == 0)
                    predicted = at(0, y - 1);
                else if (y > 0)
                    predicted = Predict(mode, at(x - 1, y), at(x, y - 1), at(x - 1, y - 1));
                current[x] = Wrap16(int32_t{at(x, y)} - predicted);
            }
        }
        if (y > 0) {
            for (int32_t x = 0; x < across; ++x) at(x, y - 1) = previous[x];
        }
    }
}

// ApplyMode for one lane of the gathered levels (`lanes` at its first block, kPredictionLanes values per
// block), which hold the originals the prediction reads: the differences go straight to the levels, with
// no row waiting in scratch, and the prediction reads compact lanes instead of a value per 64.
template <uint8_t Mode>
void ApplyModeFromLanes(const int16_t* lanes, int16_t* levels, int32_t across, int32_t down) {
    constexpr ptrdiff_t kLane = dsp::kPredictionLanes;
    const ptrdiff_t laneRow = ptrdiff_t{across} * kLane, levelRow = ptrdiff_t{across} * kBlockStride;
    for (int32_t x = 1; x < across; ++x)
        levels[x * kBlockStride] = Wrap16(int32_t{lanes[x * kLane]} - lanes[(x - 1) * kLane]);
    for (int32_t y = 1; y < down; ++y) {
        const int16_t* row = lanes + y * laneRow;
        const int16_t* above = row - laneRow;
        int16_t* out = levels + y * levelRow;
        out[0] = Wrap16(int32_t{row[0]} - above[0]);
        for (int32_t x = 1; x < across; ++x) {
            const int16_t predicted =
                Predict(Mode, row[(x - 1) * kLane], above[x * kLane], above[(x - 1) * kLane]);
            out[x * kBlockStride] = Wrap16(int32_t{row[x * kLane]} - predicted);
        }
    }
}

void ApplyModeFromLanes(const int16_t* lanes, int16_t* levels, int32_t across, int32_t down, uint8_t mode) {
    switch (mode) {
        case kPredictMedian:
            return ApplyModeFromLanes<kPredictMedian>(lanes, levels, across, down);
        case kPredictLeft:
            return ApplyModeFromLanes<kPredictLeft>(lanes, levels, across, down);
        default:
            return ApplyModeFromLanes<kPredictUp>(lanes, levels, across, down);
    }
}

// A block's predicted positions, in lane order.
void GatherLanes(const int16_t* block, int16_t* lanes) {
#if defined(__SSE2__)
    static_assert(kPredictedPositions[4] == 5 && kPredictedPositions[5] == 6 && kPredictedPositions[6] == 9 &&
                  kPredictedPositions[7] == 10 && kPredictedPositions[3] == 3);
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8));
    // 0..3 stay; 5, 6 and 9, 10 follow as two pairs.
    const __m128i pairs = _mm_unpacklo_epi32(_mm_srli_si128(low, 10), _mm_srli_si128(high, 2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), _mm_unpacklo_epi64(low, pairs));
#else
    for (int i = 0; i < kPredictedPositionCount; ++i) lanes[i] = block[kPredictedPositions[i]];
#endif
}

// The plain kernel: each lane measured as a plane of its own.
void MeasureModesPlain(const int16_t* lanes, int32_t across, int32_t down, int16_t limit,
                       dsp::ModeMeasures* out) {
    *out = dsp::ModeMeasures{};
    for (int lane = 0; lane < dsp::kPredictionLanes; ++lane) {
        const ModeCosts costs = MeasureModes(lanes + lane, across, down, dsp::kPredictionLanes, limit);
        for (int mode = 0; mode < 4; ++mode) {
            out->cost[mode][lane] = static_cast<uint64_t>(costs.cost[mode]);
            if (costs.outOfRange[mode])
                out->outOfRange[mode] = static_cast<uint8_t>(out->outOfRange[mode] | 1 << lane);
        }
    }
}

}  // namespace

dsp::MeasureModesKernel MeasureModesFor(dsp::CpuLevel level) {
#ifdef RQ43_X86_KERNELS
    if (level >= dsp::CpuLevel::Sse2) return dsp::MeasureModesSse2;
#endif
    static_cast<void>(level);
    return MeasureModesPlain;
}

uint16_t ChoosePredictionModes(int16_t* levels, int32_t blocksAcross, int32_t blocksDown, int16_t* lanes,
                               dsp::MeasureModesKernel measure) {
    if (blocksAcross <= 0 || blocksDown <= 0) return 0;
    static_assert(kPredictedPositionCount == dsp::kPredictionLanes);
    const size_t blocks = static_cast<size_t>(blocksAcross) * static_cast<size_t>(blocksDown);
    for (size_t block = 0; block < blocks; ++block)
        GatherLanes(levels + block * 64, lanes + block * kPredictedPositionCount);
    if (measure == nullptr) {
        static const dsp::MeasureModesKernel active = MeasureModesFor(dsp::ActiveCpuLevel());
        measure = active;
    }
    dsp::ModeMeasures measures;
    measure(lanes, blocksAcross, blocksDown, kLargestLevel, &measures);
    uint16_t modes = 0;
    for (int i = 0; i < kPredictedPositionCount; ++i) {
        ModeCosts costs;
        for (int mode = 0; mode < 4; ++mode) {
            costs.cost[mode] = static_cast<int64_t>(measures.cost[mode][i]);
            costs.outOfRange[mode] = ((measures.outOfRange[mode] >> i) & 1) != 0;
        }
        const PredictionMode mode = PickMode(costs);
        if (mode == kPredictNone || costs.outOfRange[mode]) continue;
        ApplyModeFromLanes(lanes + i, levels + kPredictedPositions[i], blocksAcross, blocksDown, mode);
        modes = static_cast<uint16_t>(modes | mode << (2 * i));
    }
    return modes;
}

PredictionMode ChoosePredictionMode(int16_t* levels, int32_t blocksAcross, int32_t blocksDown,
                                    int16_t* scratch) {
    if (blocksAcross <= 0 || blocksDown <= 0) return kPredictNone;
    const ModeCosts costs = MeasureModes(levels, blocksAcross, blocksDown);
    const PredictionMode mode = PickMode(costs);
    if (mode == kPredictNone || costs.outOfRange[mode]) return kPredictNone;
    ApplyMode(levels, blocksAcross, blocksDown, scratch, mode);
    return mode;
}

void UndoFirstRowPrediction(int32_t count, int16_t* current) {
    for (int32_t j = 1; j < count; ++j) {
        current[j * kBlockStride] =
            Wrap16(int32_t{current[j * kBlockStride]} + current[(j - 1) * kBlockStride]);
    }
}

void PredictCoefficientRow(int32_t count, const int16_t* above, int16_t* current, uint8_t mode) {
    if (count <= 0) return;
    current[0] = Wrap16(int32_t{current[0]} + above[0]);
    if (mode < kPredictMedian || mode > kPredictUp) return;
    for (int32_t j = 1; j < count; ++j) {
        const ptrdiff_t here = j * kBlockStride, left = (j - 1) * kBlockStride;
        const int16_t p = Predict(mode, current[left], above[here], above[left]);
        current[here] = Wrap16(int32_t{current[here]} + p);
    }
}

}  // namespace rq43
