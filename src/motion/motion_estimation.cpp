#include "motion/motion_estimation.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

#include "motion/block_ssd.h"
#include "motion/block_sums.h"
#include "motion/motion_compensation.h"
#include "motion/vector_median.h"
#include "platform/worker_split.h"

namespace rq43 {

namespace {

// The first measurement's limit. A 16x16 sum can exceed it (up to 16,646,400; an 8x8 one up to 4,161,600),
// and the partial sum it then stops at becomes the best cost: every kernel must stop exactly there.
constexpr uint32_t kFirstLimit = 589824;

struct Point {
    int32_t x = 0;
    int32_t y = 0;

    bool operator==(const Point&) const = default;
};

// Inclusive bounds of the positions a search may measure.
struct Window {
    int32_t xlo = 0;
    int32_t xhi = 0;
    int32_t ylo = 0;
    int32_t yhi = 0;

    bool Contains(Point p) const { return p.x >= xlo && p.x <= xhi && p.y >= ylo && p.y <= yhi; }
    Point Clamp(Point p) const { return {std::clamp(p.x, xlo, xhi), std::clamp(p.y, ylo, yhi)}; }
    Window Doubled() const { return {2 * xlo, 2 * xhi, 2 * ylo, 2 * yhi}; }
};

Window MacroblockWindow(const MotionField& field, int32_t x, int32_t y) {
    SearchWindow w = MacroblockSearchWindow(field, x, y);
    return {w.xlo, w.xhi, w.ylo, w.yhi};
}

// One block of the source measured against positions of the reference luma plane.
struct LumaMeasure {
    const uint8_t* source;
    const uint8_t* reference;  // reference luma pixel (0, 0)
    int32_t stride;
    const dsp::SsdKernels& ssd;

    const uint8_t* At(int32_t x, int32_t y) const {
        return reference + static_cast<std::ptrdiff_t>(y) * stride + x;
    }
    uint32_t M16At(Point p, uint32_t limit) const {
        return ssd.m16(source, stride, At(p.x, p.y), stride, limit);
    }
    // Half-pel position: M16 when both coordinates are even, else the rounded-up mean of the block at
    // the truncated position and its neighbour to the right and/or below.
    uint32_t Mh(Point h, uint32_t limit) const {
        bool oddX = h.x % 2 != 0;
        bool oddY = h.y % 2 != 0;
        if (!oddX && !oddY) return M16At({h.x / 2, h.y / 2}, limit);
        const uint8_t* a = At(h.x / 2, h.y / 2);
        const uint8_t* b = a + (oddX ? 1 : 0) + (oddY ? stride : 0);
        return ssd.m16h(source, stride, a, b, stride, limit);
    }
    uint32_t M8At(Point p, uint32_t limit) const {
        return ssd.m8(source, stride, At(p.x, p.y), stride, limit);
    }
    // The exact two-sample prediction of compensation.
    uint32_t M8hAt(Point h, uint32_t limit) const {
        SourcePair pair = LumaSources(h.x, h.y);
        return ssd.m8h(source, stride, At(pair.ax, pair.ay), At(pair.bx, pair.by), stride, limit);
    }
};

LumaMeasure MeasureFor(const MotionField& field, int32_t x, int32_t y) {
    const YuvFrame& target = *field.target;
    return {target.y + static_cast<std::ptrdiff_t>(y) * target.stride + x, field.reference->y, field.stride,
            ActiveSsdKernels()};
}

float MacroblockCost(uint32_t sum) {
    return static_cast<float>(sum) / 256.0f;
}
float QuadrantCost(uint32_t sum) {
    return static_cast<float>(sum) / 64.0f;
}

int32_t Distance(Point p, Point origin) {
    return std::abs(p.x - origin.x) + std::abs(p.y - origin.y);
}

struct Offset {
    int32_t ox;
    int32_t oy;
};

// The first eight form the fine pattern.
constexpr std::array<Offset, 24> kCoarsePattern = {{
    {-1, 0},  {1, 0},  {0, -1},  {0, 1},  {-1, -1}, {1, -1}, {-1, 1}, {1, 1},
    {-2, 0},  {2, 0},  {-2, -1}, {2, -1}, {-2, 1},  {2, 1},  {0, -2}, {0, 2},
    {-1, -2}, {1, -2}, {-1, 2},  {1, 2},  {-2, -2}, {2, -2}, {-2, 2}, {2, 2},
}};

struct FineStep {
    int32_t sx;
    int32_t sy;
};
constexpr std::array<FineStep, 4> kFineSteps = {{{10, 5}, {5, 2}, {2, 1}, {1, 0}}};

struct Best {
    Point at;
    uint32_t cost;

    void TakeIfSmaller(Point candidate, uint32_t c) {
        if (c < cost) {
            at = candidate;
            cost = c;
        }
    }
};

// The half-pel positions around the integer position `best` (itself included), row by row: a position
// must beat the best by more than 7 to replace it, or match it where `winsTie(position, held)` says.
// Returns half-pel coordinates.
template <typename Measure, typename WinsTie>
Best RefineHalfPel(const Window& window, Best best, const Measure& measure, const WinsTie& winsTie) {
    const Window half = window.Doubled();
    const Point centre{2 * best.at.x, 2 * best.at.y};
    best.at = centre;
    for (int32_t hy = std::max(half.ylo, centre.y - 1); hy <= std::min(half.yhi, centre.y + 1); ++hy) {
        if (best.cost == 0) break;
        for (int32_t hx = std::max(half.xlo, centre.x - 1); hx <= std::min(half.xhi, centre.x + 1); ++hx) {
            const Point candidate{hx, hy};
            const uint32_t c = measure(candidate, best.cost);
            if (c + 7 < best.cost || (c == best.cost && winsTie(candidate, best.at))) best = {candidate, c};
        }
    }
    return best;
}

// The positions of ring r (1 to 31) around `home` in their order, cut to the window (positions outside it
// are never measured), as runs: `run(first, count, down)` for the rows y -+ r/2 across on even rings, then
// for the columns x -+ r down.
template <typename Run>
void ForEachRingRun(const Window& window, Point home, int32_t r, const Run& run) {
    const int32_t h = r / 2;
    auto across = [&](int32_t cy) {
        const int32_t from = std::max(home.x - r + 1, window.xlo), to = std::min(home.x + r - 1, window.xhi);
        if (cy >= window.ylo && cy <= window.yhi && from <= to) run(Point{from, cy}, to - from + 1, false);
    };
    auto down = [&](int32_t cx) {
        const int32_t from = std::max(home.y - h, window.ylo), to = std::min(home.y + h, window.yhi);
        if (cx >= window.xlo && cx <= window.xhi && from <= to) run(Point{cx, from}, to - from + 1, true);
    };
    if (r % 2 == 0) {
        across(home.y - h);
        across(home.y + h);
    }
    down(home.x - r);
    down(home.x + r);
}
constexpr int32_t kMaxRingPositions = 4 * 31 + 2 * 31;

// The rings of SearchMacroblock with fewer and cheaper measurements and the same choices. A candidate is
// taken only below the best, so one whose bound reaches the best is passed over. The others of a ring are
// measured together, exactly, and taken in ring order: below the best an early-stopped measurement is
// exact too, so both decide alike. Returns the first ring not searched: where `handOver`, the search stops
// after the rings measured together once nearly all of their positions are kept, the bound having pruned
// too few to pay for itself.
int32_t SearchRingsPruned(const Window& window, Point home, const LumaMeasure& measure, const BlockSums& sums,
                          Best& best, bool handOver) {
    const int32_t stride = measure.stride;
    const uint32_t sourceSum = SumSourceBlock(measure.source, stride);
    // Indexed by plane offset, as the reference pixels.
    const uint16_t* referenceSums = sums.sums16.data() + sums.At(0, 0);
    const uint32_t* referenceSquares = sums.squares16.data() + sums.At(0, 0);
    const uint16_t* referencePixels = sums.pixels.data() + sums.At(0, 0);
    // A window row is narrower than the plane's: an offset's row and column follow from it alone.
    auto positionOf = [&](int32_t offset) {
        const int32_t fromCorner = offset - (window.ylo * stride + window.xlo);
        return Point{window.xlo + fromCorner % stride, window.ylo + fromCorner / stride};
    };
    // Small rings are measured together, a kernel call having a cost of its own: a candidate of a later ring
    // is then kept by the bound of the first ring's best, which is never below its own ring's.
    constexpr size_t kBatch = 64;
    std::array<int32_t, kBatch + kMaxRingPositions + 7> offsets;
    const dsp::WithinReachKernel keepWithinReach = WithinReachKernelFor(dsp::ActiveCpuLevel());
    std::array<uint32_t, kBatch + kMaxRingPositions> errors;
    std::array<size_t, 32> ringEnds;
    for (int32_t r = 1; r <= 31 && best.cost > 64;) {
        // A candidate may win only if (source sum - its sum)^2 < 256 x best, that is if its sum lies within
        // reach - 1 of the source's, reach being the least whole number whose square is at least 256 x best
        // (a cost is at most 255^2 x 256, so that stays below 2^32).
        const uint64_t boundLimit = 256 * uint64_t{best.cost};
        auto reach = static_cast<uint32_t>(std::sqrt(static_cast<double>(boundLimit)));
        while (uint64_t{reach} * reach < boundLimit) ++reach;
        while (reach > 0 && uint64_t{reach - 1} * (reach - 1) >= boundLimit) --reach;
        // One unsigned comparison: sums below the lowest wrap far above the span.
        const uint32_t lowest = sourceSum - (reach - 1);
        const uint32_t span = 2 * reach - 1;
        size_t count = 0, rings = 0;
        int32_t positions = 0;
        do {
            std::array<dsp::OffsetRun, 4> runs;
            int32_t runCount = 0;
            ForEachRingRun(window, home, r, [&](Point first, int32_t n, bool down) {
                runs[static_cast<size_t>(runCount++)] = {first.y * stride + first.x, down ? stride : 1, n};
                positions += n;
            });
            count += static_cast<size_t>(
                keepWithinReach(referenceSums, runs.data(), runCount, lowest, span, offsets.data() + count));
            ringEnds[rings++] = count;
            ++r;
        } while (r <= 31 && count < kBatch);
        const uint32_t least =
            measure.ssd.squaredErrors16(measure.source, stride, referencePixels, referenceSquares, stride,
                                        offsets.data(), static_cast<int32_t>(count), errors.data());
        const bool prunedTooFew = handOver && 16 * count >= 15 * static_cast<size_t>(positions);
        if (least >= best.cost) {
            if (prunedTooFew) return r;
            continue;
        }
        // Taken ring by ring, each only below the best: a ring's first least error, if below the best. A
        // ring is not searched once the best is at most 64.
        for (size_t ring = 0, from = 0; ring < rings && best.cost > 64; from = ringEnds[ring++]) {
            const auto first = errors.begin() + static_cast<std::ptrdiff_t>(from);
            const auto end = errors.begin() + static_cast<std::ptrdiff_t>(ringEnds[ring]);
            const auto at = std::min_element(first, end);
            if (at != end && *at < best.cost)
                best = {positionOf(offsets[static_cast<size_t>(at - errors.begin())]), *at};
        }
        if (prunedTooFew) return r;
    }
    return 32;
}

// The rings of SearchMacroblock from a table of the window's exact errors, filled on demand a run of
// sixteen horizontally adjacent positions at a time (in stacks of a few), which the runs kernel measures
// for the price of a few positions. Each ring takes its first least error if below the best, as the rings
// measured one by one do; the least error of each run lets a ring pass over the runs that cannot win, which
// is nearly all of them. The window must be at least 16 positions wide. The rings before `firstRing` are
// taken as searched.
__attribute__((flatten)) void SearchRingsInRuns(const Window& window, Point home, const LumaMeasure& measure,
                                                const BlockSums& sums, Best& best, int32_t firstRing) {
    constexpr int32_t kRun = 16;
    constexpr int32_t kPitch = 80;  // a window row is at most 65 positions
    constexpr int32_t kRows = 33;
    constexpr int32_t kRunsPerRow = 5;
    const int32_t stride = measure.stride;
    const int32_t width = window.xhi - window.xlo + 1;
    // Runs start every 16 positions from the window's left edge; the last ends at its right edge.
    const int32_t lastRun = (width - 1) / kRun;
    auto runStart = [width](int32_t run) { return std::min(run * kRun, width - kRun); };
    auto runOf = [lastRun](int32_t column) { return std::min(column / kRun, lastRun); };
    std::array<uint32_t, kRows * kPitch> table;
    std::array<uint32_t, kRows * kRunsPerRow> runLeast;  // by row and run
    // Bit `row` of a run column: the run is measured and may still win (its least error was below the best
    // when last looked at: the best only falls, so a cleared bit stays cleared).
    std::array<uint64_t, kRunsPerRow> open{};
    // Runs are measured in stacks of dsp::kRunStack rows from the window's top, by run column: bit q of a
    // column, stack q is in the table. A stack costs little more than its first run.
    std::array<uint16_t, kRunsPerRow> measured{};
    constexpr int32_t kStacks = (kRows + dsp::kRunStack - 1) / dsp::kRunStack;
    std::array<int32_t, kStacks * kRunsPerRow> offsets, heights, stackAt;
    std::array<uint32_t, kStacks * kRunsPerRow * dsp::kRunStack * kRun> errors;
    std::array<uint32_t, kStacks * kRunsPerRow * dsp::kRunStack> least;
    const int32_t rows = window.yhi - window.ylo + 1;
    const int32_t corner = window.ylo * stride + window.xlo;
    const uint8_t* reference = measure.At(0, 0);
    const uint16_t* referenceSums = sums.sums16.data() + sums.At(0, 0);
    const uint32_t* referenceSquares = sums.squares16.data() + sums.At(0, 0);
    auto rowBits = [](int32_t from, int32_t count) { return ((uint64_t{1} << count) - 1) << from; };
    int32_t count = 0;
    // Rows `from` to `to` of a run column.
    auto need = [&](int32_t run, int32_t from, int32_t to) {
        for (int32_t q = from / dsp::kRunStack; q <= to / dsp::kRunStack; ++q) {
            const auto bit = static_cast<uint16_t>(1u << q);
            if ((measured[static_cast<size_t>(run)] & bit) != 0) continue;
            measured[static_cast<size_t>(run)] |= bit;
            const int32_t top = q * dsp::kRunStack;
            offsets[static_cast<size_t>(count)] = corner + top * stride + runStart(run);
            heights[static_cast<size_t>(count)] = std::min(dsp::kRunStack, rows - top);
            stackAt[static_cast<size_t>(count++)] = top * kRunsPerRow + run;
        }
    };
    auto measureNeeded = [&] {
        measure.ssd.squaredErrorRuns16(measure.source, stride, reference, referenceSums, referenceSquares,
                                       stride, offsets.data(), heights.data(), count, errors.data(),
                                       least.data());
        for (int32_t i = 0; i < count; ++i) {
            const auto at = static_cast<size_t>(stackAt[static_cast<size_t>(i)]);
            const auto top = static_cast<int32_t>(at / kRunsPerRow),
                       run = static_cast<int32_t>(at % kRunsPerRow);
            for (int32_t j = 0; j < heights[static_cast<size_t>(i)]; ++j) {
                const auto slot = static_cast<size_t>(dsp::kRunStack * i + j);
                std::copy_n(errors.begin() + static_cast<std::ptrdiff_t>(slot) * kRun, kRun,
                            table.begin() + (top + j) * kPitch + runStart(run));
                runLeast[at + static_cast<size_t>(j * kRunsPerRow)] = least[slot];
                if (least[slot] < best.cost) open[static_cast<size_t>(run)] |= uint64_t{1} << (top + j);
            }
        }
        count = 0;
    };
    // The first rings one by one, measuring only what they reach: clean pictures often end there.
    // Once past them, the search is likely to go on to the end: the rest of what the rings reach is measured
    // at once.
    constexpr int32_t kRingsOneByOne = 4;
    for (int32_t r = firstRing; r <= 31 && best.cost > 64; ++r) {
        if (r <= kRingsOneByOne) {
            ForEachRingRun(window, home, r, [&](Point first, int32_t n, bool down) {
                const int32_t row = first.y - window.ylo, column = first.x - window.xlo;
                if (down) {
                    need(runOf(column), row, row + n - 1);
                } else {
                    for (int32_t run = runOf(column); run <= runOf(column + n - 1); ++run)
                        need(run, row, row);
                }
            });
            measureNeeded();
        } else if (r == std::max(firstRing, kRingsOneByOne + 1)) {
            const int32_t left = std::max(home.x - 31, window.xlo) - window.xlo;
            const int32_t right = std::min(home.x + 31, window.xhi) - window.xlo;
            const int32_t top = std::max(home.y - 15, window.ylo) - window.ylo;
            const int32_t bottom = std::min(home.y + 15, window.yhi) - window.ylo;
            for (int32_t run = runOf(left); run <= runOf(right); ++run) need(run, top, bottom);
            measureNeeded();
        }
        // Positions in ring order, of runs still open: each taken if below the best.
        auto take = [&](int32_t row, int32_t run, int32_t column, int32_t n) {
            if (runLeast[static_cast<size_t>(row * kRunsPerRow + run)] >= best.cost) {
                open[static_cast<size_t>(run)] &= ~(uint64_t{1} << row);
                return;
            }
            const uint32_t* at = table.data() + row * kPitch + column;
            for (int32_t k = 0; k < n; ++k) {
                if (at[k] < best.cost) best = {Point{window.xlo + column + k, window.ylo + row}, at[k]};
            }
        };
        ForEachRingRun(window, home, r, [&](Point first, int32_t n, bool down) {
            const int32_t row = first.y - window.ylo, column = first.x - window.xlo;
            if (down) {
                const int32_t run = runOf(column);
                for (uint64_t rowsOpen = open[static_cast<size_t>(run)] & rowBits(row, n); rowsOpen != 0;
                     rowsOpen &= rowsOpen - 1) {
                    take(static_cast<int32_t>(std::countr_zero(rowsOpen)), run, column, 1);
                }
                return;
            }
            // A run holds columns 16 run onwards; the last one, moved left to end at the edge, also
            // holds some of its neighbour's, which count as the neighbour's.
            for (int32_t run = runOf(column); run <= runOf(column + n - 1); ++run) {
                if ((open[static_cast<size_t>(run)] >> row & 1) == 0) continue;
                const int32_t from = std::max(column, run * kRun);
                const int32_t to = std::min(column + n, run == lastRun ? width : run * kRun + kRun);
                take(row, run, from, to - from);
            }
        });
    }
}

// Refines one 8x8 quadrant at (xs, ys) whose entry holds the macroblock vector.
void SearchSubBlock(const MotionField& field, int32_t xs, int32_t ys, MotionEntry& entry) {
    int32_t b = field.border;
    int32_t w = static_cast<int32_t>(field.width);
    int32_t h = static_cast<int32_t>(field.height);
    int32_t mdx = entry.dx;
    int32_t mdy = entry.dy;
    // A vector from this frame's own macroblock search always starts inside; the clamp only guards reads.
    Point start{std::clamp(xs + mdx / 2, std::max(xs - 32, 1 - b), std::min(xs + 32, w + b - 9)),
                std::clamp(ys + mdy / 2, std::max(ys - 16, 1 - b), std::min(ys + 16, h + b - 9))};
    Window window{std::max({start.x - 8, xs - 32, 1 - b}), std::min({start.x + 8, xs + 32, w + b - 9}),
                  std::max({start.y - 8, ys - 16, 1 - b}), std::min({start.y + 8, ys + 16, h + b - 9})};
    LumaMeasure measure = MeasureFor(field, xs, ys);

    uint32_t bestCost = measure.M8At(start, kFirstLimit);
    if (bestCost < 49) {
        entry = {static_cast<int16_t>(2 * (mdx / 2)), static_cast<int16_t>(2 * (mdy / 2)),
                 QuadrantCost(bestCost)};
        return;
    }
    Point origin{xs, ys};
    Point best = start;
    for (int32_t py = window.ylo; py <= window.yhi && bestCost != 0; ++py) {
        for (int32_t px = window.xlo; px <= window.xhi; ++px) {
            Point candidate{px, py};
            uint32_t c = measure.M8At(candidate, bestCost);
            if (c < bestCost || (c == bestCost && Distance(candidate, origin) < Distance(best, origin))) {
                best = candidate;
                bestCost = c;
            }
        }
    }

    Point halfOrigin{2 * xs, 2 * ys};
    Best bestHalf = RefineHalfPel(
        window, {best, bestCost}, [&](Point h, uint32_t limit) { return measure.M8hAt(h, limit); },
        [&](Point candidate, Point held) {
            return Distance(candidate, halfOrigin) < Distance(held, halfOrigin);
        });
    entry = {static_cast<int16_t>(bestHalf.at.x - halfOrigin.x),
             static_cast<int16_t>(bestHalf.at.y - halfOrigin.y), QuadrantCost(bestHalf.cost)};
}

// Vector candidate from this frame's neighbours: left in row 0, upper in column 0, else the median of
// left, upper and upper-left. None for the first macroblock.
bool SpatialCandidate(const MotionField& field, uint32_t col, uint32_t row, Point& vector) {
    if (col == 0 && row == 0) return false;
    size_t i = size_t{row} * field.mbCols + col;
    auto at = [&](size_t index) { return Point{field.current[index].dx, field.current[index].dy}; };
    if (row == 0) {
        vector = at(i - 1);
    } else if (col == 0) {
        vector = at(i - field.mbCols);
    } else {
        Point left = at(i - 1);
        Point up = at(i - field.mbCols);
        Point upLeft = at(i - field.mbCols - 1);
        vector = {Median(left.x, up.x, upLeft.x), Median(left.y, up.y, upLeft.y)};
    }
    return true;
}

void Store(MotionEntry& entry, Point vector, float cost) {
    entry = {static_cast<int16_t>(vector.x), static_cast<int16_t>(vector.y), cost};
}

}  // namespace

SearchWindow MacroblockSearchWindow(const MotionField& field, int32_t x, int32_t y) {
    int32_t b = field.border;
    int32_t w = static_cast<int32_t>(field.width);
    int32_t h = static_cast<int32_t>(field.height);
    return {std::max(x - 32, 1 - b), std::min(x + 32, w + b - 17), std::max(y - 16, 1 - b),
            std::min(y + 16, h + b - 17)};
}

float SearchMacroblock(MotionField& field, uint32_t col, uint32_t row, const BlockSums* bounds) {
    int32_t x = static_cast<int32_t>(col) * 16;
    int32_t y = static_cast<int32_t>(row) * 16;
    MotionEntry& entry = field.current[size_t{row} * field.mbCols + col];
    int32_t sdx = entry.dx;
    int32_t sdy = entry.dy;
    Window window = MacroblockWindow(field, x, y);
    LumaMeasure measure = MeasureFor(field, x, y);
    Point home{x, y};

    // Last frame's vector first; the clamp only guards reads, such vectors always lie in the window.
    Best best{window.Clamp({x + sdx / 2, y + sdy / 2}), 0};
    best.cost = measure.M16At(best.at, kFirstLimit);
    if (sdx != 0 || sdy != 0) {
        // Limit one above the best so that a partial sum equal to it cannot pass for a tie.
        uint32_t c = measure.M16At(home, best.cost + 1);
        if (c <= best.cost) best = {home, c};
    }

    if (bounds == nullptr) {
        for (int32_t r = 1; r <= 31 && best.cost > 64; ++r) {
            ForEachRingRun(window, home, r, [&](Point first, int32_t n, bool down) {
                for (int32_t k = 0; k < n; ++k) {
                    const Point candidate{first.x + (down ? 0 : k), first.y + (down ? k : 0)};
                    best.TakeIfSmaller(candidate, measure.M16At(candidate, best.cost));
                }
            });
        }
    } else {
        // The rings reach 31 columns and 15 rows from home: whole runs beyond would be measured for nothing.
        const Window reach{std::max(window.xlo, x - 31), std::min(window.xhi, x + 31),
                           std::max(window.ylo, y - 15), std::min(window.yhi, y + 15)};
        const bool runs = measure.ssd.squaredErrorRuns16 != nullptr && reach.xhi - reach.xlo + 1 >= 16;
        int32_t ring = 1;
        if (!runs || measure.ssd.pruneBeforeRuns)
            ring = SearchRingsPruned(window, home, measure, *bounds, best, runs);
        if (ring <= 31 && best.cost > 64) SearchRingsInRuns(reach, home, measure, *bounds, best, ring);
    }

    Best bestHalf = RefineHalfPel(
        window, best, [&](Point h, uint32_t limit) { return measure.Mh(h, limit); },
        [](Point, Point) { return false; });
    float cost = MacroblockCost(bestHalf.cost);
    Store(entry, {bestHalf.at.x - 2 * x, bestHalf.at.y - 2 * y}, cost);
    return cost;
}

float FastSearchMacroblock(MotionField& field, uint32_t col, uint32_t row) {
    int32_t x = static_cast<int32_t>(col) * 16;
    int32_t y = static_cast<int32_t>(row) * 16;
    size_t i = size_t{row} * field.mbCols + col;
    MotionEntry& entry = field.current[i];
    Window half = MacroblockWindow(field, x, y).Doubled();
    LumaMeasure measure = MeasureFor(field, x, y);
    Point home{2 * x, 2 * y};

    Best best{half.Clamp({home.x + entry.dx, home.y + entry.dy}), 0};
    best.cost = measure.Mh(best.at, kFirstLimit);
    if (entry.dx != 0 || entry.dy != 0) best.TakeIfSmaller(home, measure.Mh(home, best.cost));
    Point spatial;
    if (SpatialCandidate(field, col, row, spatial) && (spatial.x != 0 || spatial.y != 0)) {
        // A median of neighbours can point beyond the bordered reference: keep it to the window.
        Point candidate = half.Clamp({home.x + spatial.x, home.y + spatial.y});
        best.TakeIfSmaller(candidate, measure.Mh(candidate, best.cost));
    }

    auto finish = [&](float cost) {
        Store(entry, {best.at.x - home.x, best.at.y - home.y}, cost);
        return cost;
    };
    if (col > 0 && row > 0) {
        float t = static_cast<float>(best.cost) / 256.0f - 1.5f;
        if (field.current[i - 1].cost >= t && field.current[i - field.mbCols].cost >= t &&
            field.current[i - field.mbCols - 1].cost >= t) {
            return finish(t + 1.5f);
        }
    }

    Point centre = best.at;
    for (const Offset& o : kCoarsePattern) {
        Point candidate = half.Clamp({centre.x + 21 * o.ox, centre.y + 11 * o.oy});
        best.TakeIfSmaller(candidate, measure.Mh(candidate, best.cost));
    }
    // A position measured before cannot win again (a candidate must be strictly below the best, and a
    // measurement never comes out below the best it stopped at), so a step skips the centre and the
    // positions it repeats: the last step's flat pattern, and clamping at the window's edges, repeat some.
    for (const FineStep& step : kFineSteps) {
        if (best.cost < 65) break;
        centre = best.at;
        Point measured[8];
        size_t count = 0;
        for (size_t k = 0; k < 8; ++k) {
            const Offset& o = kCoarsePattern[k];
            Point candidate = half.Clamp({centre.x + step.sx * o.ox, centre.y + step.sy * o.oy});
            if (candidate == centre || std::find(measured, measured + count, candidate) != measured + count)
                continue;
            measured[count++] = candidate;
            best.TakeIfSmaller(candidate, measure.Mh(candidate, best.cost));
        }
    }
    return finish(MacroblockCost(best.cost));
}

float SearchSubBlocks(MotionField& field, uint32_t col, uint32_t row) {
    size_t i = size_t{row} * field.mbCols + col;
    int32_t x = static_cast<int32_t>(col) * 16;
    int32_t y = static_cast<int32_t>(row) * 16;
    float mean = 0.0f;
    for (int k = 0; k < 4; ++k) {
        MotionEntry& quadrant = field.subVectors[4 * i + static_cast<size_t>(k)];
        quadrant = field.current[i];
        SearchSubBlock(field, x + 8 * (k % 2), y + 8 * (k / 2), quadrant);
        mean += quadrant.cost * 0.25f;
    }
    return mean;
}

bool PrefersSubBlocks(float cost, float subCost) {
    return std::sqrt(static_cast<double>(cost)) >= std::sqrt(static_cast<double>(subCost)) + 2.0;
}

bool SubBlockChromaInsideBorder(const MotionField& field, const MotionEntry quadrants[4]) {
    SourcePair chroma = SubBlockChromaSources(quadrants);
    int32_t chromaBorder = field.border / 2;
    int32_t lastX = static_cast<int32_t>(field.width / 2) + chromaBorder - 1;
    int32_t lastY = static_cast<int32_t>(field.height / 2) + chromaBorder - 1;
    return std::min(chroma.ax, chroma.bx) >= -chromaBorder && std::max(chroma.ax, chroma.bx) + 7 <= lastX &&
           std::min(chroma.ay, chroma.by) >= -chromaBorder && std::max(chroma.ay, chroma.by) + 7 <= lastY;
}

namespace {

// The size is fixed and the buffers declared apart so that the compiler runs the rows in vector registers.
template <int Size>
void SubtractPrediction(const uint8_t* __restrict source, int32_t sourceStride,
                        const uint8_t* __restrict prediction, int16_t* __restrict to, int32_t toPitch) {
    for (int j = 0; j < Size; ++j) {
        for (int i = 0; i < Size; ++i) to[i] = static_cast<int16_t>(source[i] - prediction[i] + 128);
        source += sourceStride;
        prediction += Size;
        to += toPitch;
    }
}

}  // namespace

void BuildDifferenceRows(const MotionField& field, DifferenceFrame& difference, uint32_t firstRow,
                         uint32_t rowStep) {
    const YuvFrame& source = *field.target;
    const YuvFrame& reference = *field.reference;
    int32_t stride = source.stride;
    int32_t pitch = difference.width;
    uint8_t lumaPrediction[16 * 16];
    uint8_t uPrediction[8 * 8];
    uint8_t vPrediction[8 * 8];
    PredictionOutput out{lumaPrediction, uPrediction, vPrediction, 16, 8};

    for (uint32_t row = firstRow; row < field.mbRows; row += rowStep) {
        for (uint32_t col = 0; col < field.mbCols; ++col) {
            size_t i = size_t{row} * field.mbCols + col;
            int32_t x = static_cast<int32_t>(col) * 16;
            int32_t y = static_cast<int32_t>(row) * 16;
            if (IsSubBlockMode(field.current[i])) {
                PredictSubBlocksTo(reference, x, y, &field.subVectors[4 * i], out);
            } else {
                PredictWholeTo(reference, x, y, field.current[i], out);
            }
            std::ptrdiff_t lumaAt = static_cast<std::ptrdiff_t>(y) * stride + x;
            std::ptrdiff_t chromaAt = static_cast<std::ptrdiff_t>(y / 2) * stride + x / 2;
            std::ptrdiff_t lumaTo = static_cast<std::ptrdiff_t>(y) * pitch + x;
            std::ptrdiff_t chromaTo = static_cast<std::ptrdiff_t>(y / 2) * pitch + x / 2;
            SubtractPrediction<16>(source.y + lumaAt, stride, lumaPrediction, difference.y + lumaTo, pitch);
            SubtractPrediction<8>(source.u + chromaAt, stride, uPrediction, difference.u + chromaTo, pitch);
            SubtractPrediction<8>(source.v + chromaAt, stride, vPrediction, difference.v + chromaTo, pitch);
        }
    }
}

namespace {

// Macroblocks finished per row. A worker starts a macroblock only once the row above has finished the
// columns it reads, so every neighbour read sees this frame's final entry whatever the timing. Each row's
// count has a cache line of its own, so the worker of the next row does not take the line from the one of
// the row below it.
class RowProgress {
  public:
    explicit RowProgress(uint32_t rows) : done_(std::make_unique<Count[]>(rows)) {}
    // Returns the columns found finished, at least `columns`: a caller asks again only beyond them. A wait
    // lasts about one macroblock of the other worker, so yielding is enough; it also builds with thread
    // libraries that have no atomic wait.
    uint32_t WaitFor(uint32_t row, uint32_t columns) const {
        uint32_t done;
        while ((done = done_[row].columns.load(std::memory_order_acquire)) < columns)
            std::this_thread::yield();
        return done;
    }
    void Finished(uint32_t row, uint32_t columns) {
        done_[row].columns.store(columns, std::memory_order_release);
    }

  private:
    // Two lines: the processor may fetch a line's neighbour with it.
    struct alignas(128) Count {
        std::atomic<uint32_t> columns{0};
    };
    std::unique_ptr<Count[]> done_;
};

// Columns a row's worker, once it has waited, stays behind the row above. Without them it would follow
// close enough to ask for each macroblock and read entries the other worker is still writing, each time
// taking the line from the other's cache.
constexpr uint32_t kWavefrontSlack = 8;

// Returns the macroblocks that took sub-block mode.
int32_t SearchRow(MotionField& field, uint32_t row, RowProgress& progress) {
    int32_t subBlocks = 0;
    uint32_t aboveDone = 0;  // columns of the row above known to have finished
    for (uint32_t col = 0; col < field.mbCols; ++col) {
        // The fast search reads the upper and upper-left neighbours.
        if (field.fastSearch != 0 && row > 0 && aboveDone < col + 1)
            aboveDone = progress.WaitFor(row - 1, std::min(col + 1 + kWavefrontSlack, field.mbCols));
        float cost = field.fastSearch != 0 ? FastSearchMacroblock(field, col, row)
                                           : SearchMacroblock(field, col, row, &field.referenceSums);
        if (field.subBlockSearch != 0 && cost >= 12.0f) {
            size_t i = size_t{row} * field.mbCols + col;
            float subCost = SearchSubBlocks(field, col, row);
            if (PrefersSubBlocks(cost, subCost) &&
                SubBlockChromaInsideBorder(field, &field.subVectors[4 * i])) {
                field.current[i].cost = kSubBlockMarker;
                ++subBlocks;
            }
        }
        progress.Finished(row, col + 1);
    }
    return subBlocks;
}

}  // namespace

bool EstimateMotion(YuvFrame& source, MotionField& field, const YuvFrame& reference,
                    DifferenceFrame& difference) {
    bool agree = &source != &reference && source.allocated != 0 && reference.allocated != 0 &&
                 source.width == reference.width && source.height == reference.height &&
                 source.border == reference.border && source.stride == reference.stride &&
                 source.width % 16 == 0 && source.height % 16 == 0 &&
                 difference.width == static_cast<int32_t>(source.width) &&
                 difference.height == static_cast<int32_t>(source.height) && difference.y != nullptr;
    if (!agree) return false;
    AllocateMotionField(field, source.width, source.height, static_cast<int32_t>(source.border));
    field.target = &source;
    field.reference = &reference;

    if (field.fastSearch == 0) {
        ComputeBlockSums(reference.y, reference.stride, static_cast<int32_t>(reference.height),
                         static_cast<int32_t>(reference.border), field.referenceSums, dsp::ActiveCpuLevel(),
                         field.workers);
    }
    RowProgress progress(field.mbRows);
    std::atomic<int32_t> subBlocks{0};
    auto searchRow = [&](uint32_t row, int) {
        subBlocks.fetch_add(SearchRow(field, row, progress), std::memory_order_relaxed);
    };
    // The fast search's rows wait on the row above, so they are handed out in order. The full search's
    // are independent: in bands, as reconstruction wrote the reference.
    if (field.fastSearch != 0)
        platform::RunUnits(field.workers, field.mbRows, searchRow);
    else
        platform::RunBands(field.workers, field.mbRows, searchRow);
    field.subBlockCount = subBlocks.load(std::memory_order_relaxed);
    // Starts only once the whole search has finished, so it sees the final mode of every macroblock. In
    // bands, as the transform reads the differences back.
    platform::RunBands(field.workers, field.mbRows,
                       [&](uint32_t row, int) { BuildDifferenceRows(field, difference, row, field.mbRows); });
    return true;
}

}  // namespace rq43
