#include "motion/motion_estimation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "host/moving_clip.h"
#include "motion/motion_compensation.h"
#include "motion/motion_section.h"
#include "motion_test_frames.h"
#include "platform/worker_pair.h"

namespace rq43 {
namespace {

using test::Pixel;

class EstimationTest : public ::testing::Test {
  protected:
    // Reference from `refRule`, source from `sourceRule`; the field is ready for the per-macroblock steps.
    void Prepare(uint32_t width, uint32_t height, const test::PixelRule& refRule,
                 const test::PixelRule& sourceRule) {
        test::MakeFrame(reference_, width, height, refRule);
        test::MakeFrame(source_, width, height, sourceRule);
        AllocateDifferenceFrame(difference_, static_cast<int32_t>(width), static_cast<int32_t>(height));
        AllocateMotionField(field_, width, height, 16);
        field_.target = &source_;
        field_.reference = &reference_;
    }

    void SetLuma(YuvFrame& frame, int32_t x, int32_t y, int value) {
        frame.y[static_cast<std::ptrdiff_t>(y) * frame.stride + x] = static_cast<uint8_t>(value);
    }

    MotionEntry& Entry(uint32_t col, uint32_t row) { return field_.current[row * field_.mbCols + col]; }

    YuvFrame reference_;
    YuvFrame source_;
    DifferenceFrame difference_;
    MotionField field_;
};

auto Flat(int value) {
    return [value](int32_t, int32_t) { return static_cast<uint8_t>(value); };
}

TEST_F(EstimationTest, IdenticalPicturesKeepTheZeroVectorAtCostZero) {
    Prepare(64, 48, test::Texture, test::Texture);
    for (int fast : {0, 1}) {
        field_.fastSearch = static_cast<uint8_t>(fast);
        ClearMotionVectors(field_);
        Entry(1, 1) = {4, 2, 0.0f};  // a previous vector: the zero vector still wins the tie at 0
        ASSERT_TRUE(EstimateMotion(source_, field_, reference_, difference_));
        for (const MotionEntry& entry : field_.current) {
            EXPECT_EQ(entry.dx, 0);
            EXPECT_EQ(entry.dy, 0);
            EXPECT_EQ(entry.cost, 0.0f);
        }
        for (int32_t i = 0; i < 64 * 48; ++i) ASSERT_EQ(difference_.y[i], 128);
        for (int32_t r = 0; r < 24; ++r) {
            for (int32_t c = 0; c < 64; ++c) ASSERT_EQ(difference_.u[r * 64 + c], 128);
        }
    }
}

TEST_F(EstimationTest, SearchWindowKeepsBlocksInsideTheBorder) {
    Prepare(64, 48, test::Texture, test::Texture);
    SearchWindow corner = MacroblockSearchWindow(field_, 0, 0);
    EXPECT_EQ(corner.xlo, -15);
    EXPECT_EQ(corner.xhi, 32);
    EXPECT_EQ(corner.ylo, -15);
    EXPECT_EQ(corner.yhi, 16);
    SearchWindow last = MacroblockSearchWindow(field_, 48, 32);
    EXPECT_EQ(last.xlo, 16);
    EXPECT_EQ(last.xhi, 63);
    EXPECT_EQ(last.ylo, 16);
    EXPECT_EQ(last.yhi, 47);
}

TEST_F(EstimationTest, FullSearchFindsIntegerAndHalfPelMotion) {
    // Source = reference moved by (3, -2) pixels, and by (3.5, -2) through the rounded-up mean.
    Prepare(96, 64, test::Texture, [](int32_t x, int32_t y) { return test::Texture(x + 3, y - 2); });
    EXPECT_EQ(SearchMacroblock(field_, 2, 1), 0.0f);
    EXPECT_EQ(Entry(2, 1).dx, 6);
    EXPECT_EQ(Entry(2, 1).dy, -4);

    Prepare(96, 64, test::Texture, [](int32_t x, int32_t y) {
        return static_cast<uint8_t>((test::Texture(x + 3, y - 2) + test::Texture(x + 4, y - 2) + 1) >> 1);
    });
    EXPECT_EQ(SearchMacroblock(field_, 2, 1), 0.0f);
    EXPECT_EQ(Entry(2, 1).dx, 7);
    EXPECT_EQ(Entry(2, 1).dy, -4);
}

TEST_F(EstimationTest, HalfPelCandidateMustWinByMoreThanSeven) {
    // Flat pictures with one changed source pixel at block pixel (0, 5) and one changed reference pixel
    // left of it: only the half-pel step to the left improves, by (a^2 - (a - d)^2), d = the mean's rise.
    struct Case {
        int a, b;
        int16_t dx;
        float cost;
    };
    const Case cases[] = {{3, 4, -1, 1.0f / 256}, {4, 2, 0, 16.0f / 256}};  // better by 8, by 7
    for (const Case& c : cases) {
        Prepare(48, 48, Flat(100), Flat(100));
        SetLuma(reference_, 15, 21, 100 + c.b);
        ExtendBorders(reference_);
        SetLuma(source_, 16, 21, 100 + c.a);
        EXPECT_EQ(SearchMacroblock(field_, 1, 1), c.cost);
        EXPECT_EQ(Entry(1, 1).dx, c.dx);
        EXPECT_EQ(Entry(1, 1).dy, 0);
    }
}

TEST(SubBlockDecisionTest, SplitsOnlyWhenTheRootErrorDropsByTwo) {
    EXPECT_TRUE(PrefersSubBlocks(16.0f, 4.0f));   // 4 >= 2 + 2
    EXPECT_FALSE(PrefersSubBlocks(12.0f, 4.0f));  // 3.46 < 4
    EXPECT_TRUE(PrefersSubBlocks(12.0f, 0.0f));
}

TEST_F(EstimationTest, QuadrantStartBelow49KeepsTheMacroblockVectorWithoutItsHalfPel) {
    Prepare(48, 48, Flat(100), Flat(100));
    // Three pixels off by 4 in every quadrant: on the flat reference every position measures 3 * 16 = 48.
    for (int k = 0; k < 4; ++k) {
        int32_t qx = 16 + 8 * (k % 2);
        int32_t qy = 16 + 8 * (k / 2);
        for (int p = 0; p < 3; ++p) SetLuma(source_, qx + p, qy + 2, 104);
    }
    Entry(1, 1) = {-3, 5, 20.0f};
    EXPECT_EQ(SearchSubBlocks(field_, 1, 1), 0.75f);
    for (size_t k = 0; k < 4; ++k) {
        const MotionEntry& quadrant = field_.subVectors[4 * 4 + k];
        EXPECT_EQ(quadrant.dx, -2);
        EXPECT_EQ(quadrant.dy, 4);
        EXPECT_EQ(quadrant.cost, 0.75f);
    }

    // At 49 the quadrant is searched; on a flat reference every position ties and the one nearest the
    // zero displacement wins.
    SetLuma(source_, 16, 18, 100);
    SetLuma(source_, 17, 18, 100);
    SetLuma(source_, 18, 18, 107);
    SearchSubBlocks(field_, 1, 1);
    EXPECT_EQ(field_.subVectors[16].dx, 0);
    EXPECT_EQ(field_.subVectors[16].dy, 0);
    EXPECT_EQ(field_.subVectors[16].cost, 49.0f / 64);
}

TEST_F(EstimationTest, NeighbourAgreementEndsTheFastSearch) {
    // A horizontal ramp moved one pixel: the zero vector measures (slope)^2 per pixel, (2, 0) measures 0.
    for (int slope : {1, 2}) {
        Prepare(
            64, 48, [slope](int32_t x, int32_t) { return static_cast<uint8_t>(40 + slope * x); },
            [slope](int32_t x, int32_t) { return static_cast<uint8_t>(40 + slope * (x + 1)); });
        Entry(0, 0).cost = 5.0f;  // upper-left
        Entry(1, 0).cost = 2.0f;  // upper
        Entry(0, 1).cost = 3.0f;  // left
        float cost = FastSearchMacroblock(field_, 1, 1);
        if (slope == 1) {
            // t = 1.0 - 1.5: every neighbour is at least t, the start stands.
            EXPECT_EQ(cost, 1.0f);
            EXPECT_EQ(Entry(1, 1).dx, 0);
        } else {
            // t = 4.0 - 1.5 = 2.5 exceeds the upper neighbour's 2.0: the pattern search finds (2, 0).
            EXPECT_EQ(cost, 0.0f);
            EXPECT_EQ(Entry(1, 1).dx, 2);
            EXPECT_EQ(Entry(1, 1).dy, 0);
        }
    }
}

TEST_F(EstimationTest, SpatialCandidateIsClampedToTheWindow) {
    // The neighbours point 32 pixels right and 16 down, beyond the bordered reference of a 32x32 picture.
    // Clamped, the candidate is the window's corner, where the source block was copied from.
    Prepare(32, 32, test::Texture, test::Texture);
    for (int32_t j = 0; j < 16; ++j) {
        for (int32_t i = 0; i < 16; ++i)
            SetLuma(source_, 16 + i, 16 + j, Pixel(reference_, reference_.y, 31 + i, 31 + j));
    }
    for (uint32_t i = 0; i < 3; ++i) field_.current[i] = {64, 32, -1.0f};
    FastSearchMacroblock(field_, 1, 1);
    EXPECT_EQ(Entry(1, 1).dx, 30);
    EXPECT_EQ(Entry(1, 1).dy, 30);
}

TEST(SubBlockChromaGuardTest, ChromaMustStayInsideTheChromaBorder) {
    MotionField field;
    AllocateMotionField(field, 16, 32, 16);
    auto inside = [&](int16_t dx, int16_t dy) {
        const MotionEntry quadrants[4] = {{dx, dy, 0}, {dx, dy, 0}, {dx, dy, 0}, {dx, dy, 0}};
        return SubBlockChromaInsideBorder(field, quadrants);
    };
    EXPECT_TRUE(inside(-32, -32));  // column and row -8: the border's first
    EXPECT_FALSE(inside(-36, 0));   // column -9
    EXPECT_TRUE(inside(34, 0));     // columns 8 and T(35/4) = 8: 8 + 7 = 15 = width / 2 + 7
    EXPECT_FALSE(inside(35, 0));    // T(36/4) = 9
    EXPECT_FALSE(inside(0, -36));   // row -9
    AllocateMotionField(field, 16, 16, 16);
    EXPECT_TRUE(inside(0, 34));  // rows 8 .. 15: the last border row of a chroma plane of 8 rows
    EXPECT_FALSE(inside(0, 35));
}

// Source with motion that differs per 8x8 quadrant, so that sub-block mode pays.
uint8_t QuadrantMoved(int32_t x, int32_t y) {
    int32_t qx = x / 8;
    int32_t qy = y / 8;
    return test::Texture(x + (qx * 5 + qy) % 5 - 2, y + (qx + 2 * qy) % 3 - 1);
}

TEST_F(EstimationTest, TwoWorkersGiveTheSameFieldAndDifferencesAsOne) {
    platform::WorkerPair workers;
    // Wider than the fast search's lead of one row over the next, so that rows wait part way, and an odd
    // number of rows, so that the full search's halves differ.
    constexpr uint32_t kWidth = 224, kHeight = 112;
    constexpr size_t kLuma = size_t{kWidth} * kHeight;
    for (int fast : {1, 0}) {
        // The frame before moved differently: its carried vectors start both searches, and a read of a
        // neighbour that is not yet this frame's would show.
        Prepare(kWidth, kHeight, test::Texture,
                [](int32_t x, int32_t y) { return test::Texture(x - 5, y + 3); });
        field_.fastSearch = static_cast<uint8_t>(fast);
        field_.subBlockSearch = 1;
        field_.workers = nullptr;
        ASSERT_TRUE(EstimateMotion(source_, field_, reference_, difference_));
        CarryMotionVectors(field_);
        std::vector<MotionEntry> start = field_.current;

        test::MakeFrame(source_, kWidth, kHeight, QuadrantMoved);
        ASSERT_TRUE(EstimateMotion(source_, field_, reference_, difference_));
        std::vector<MotionEntry> current = field_.current;
        std::vector<MotionEntry> sub = field_.subVectors;
        int32_t subBlocks = field_.subBlockCount;
        std::vector<int16_t> luma(difference_.y, difference_.y + kLuma);
        std::vector<int16_t> chroma(difference_.u, difference_.u + kLuma / 2);
        EXPECT_GT(subBlocks, 0);

        int repeats = fast != 0 ? 40 : 4;
        for (int repeat = 0; repeat < repeats; ++repeat) {
            field_.current = start;
            field_.workers = &workers;
            std::fill(difference_.y, difference_.y + kLuma, int16_t{0});
            ASSERT_TRUE(EstimateMotion(source_, field_, reference_, difference_));
            ASSERT_EQ(field_.subBlockCount, subBlocks);
            for (size_t i = 0; i < current.size(); ++i) {
                ASSERT_EQ(field_.current[i].dx, current[i].dx) << repeat << " " << i;
                ASSERT_EQ(field_.current[i].dy, current[i].dy) << repeat << " " << i;
                ASSERT_EQ(field_.current[i].cost, current[i].cost) << repeat << " " << i;
            }
            for (size_t i = 0; i < sub.size(); ++i) ASSERT_EQ(field_.subVectors[i].dx, sub[i].dx);
            ASSERT_EQ(std::vector<int16_t>(difference_.y, difference_.y + kLuma), luma);
            ASSERT_EQ(std::vector<int16_t>(difference_.u, difference_.u + kLuma / 2), chroma);
        }
    }
}

// Frames of the moving test clip: natural-looking texture, sub-pixel pans and noise.
test::PixelRule ClipLuma(int32_t width, int32_t height, int32_t index, int32_t noise) {
    auto rgb = std::make_shared<std::vector<uint8_t>>(ClipFrameRgb(width, height, index, noise));
    return
        [rgb, width](int32_t x, int32_t y) { return (*rgb)[(static_cast<size_t>(y) * width + x) * 3 + 1]; };
}

// The bounds only skip candidates that cannot win, and runs measured ahead of their rings decide nothing
// early (the search in runs where the level has its kernel, else the pruned one): every macroblock gets
// the vector and cost it gets when every candidate is measured, from the carried vector it starts with.
// Pure noise makes the first measurement pass its limit, so the best starts as a partial sum; moved by
// (7, 3), it is matched exactly on ring 7, where a level whose bound prunes too little hands the search
// over to runs. Stripes moved by (1, 1) are matched within 32 one ring before the exact match, which the
// search must then leave unvisited although the pruned one measures both rings together.
TEST_F(EstimationTest, PrunedFullSearchMatchesTheMeasuredOne) {
    std::mt19937 random(5);
    auto noise = [&random](int32_t, int32_t) { return static_cast<uint8_t>(random() & 0xFF); };
    auto stripes = [](int32_t x, int32_t y) { return static_cast<uint8_t>(x * 37 % 200 + y / 8 % 2); };
    auto stripesMoved = [stripes](int32_t x, int32_t y) { return stripes(x + 1, y + 1); };
    auto hashed = [](int32_t x, int32_t y) {
        return static_cast<uint8_t>(
            (static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u) * 2654435761u >>
            24);
    };
    auto hashedMoved = [hashed](int32_t x, int32_t y) { return hashed(x + 7, y + 3); };
    struct Pair {
        test::PixelRule reference, source;
    } pairs[] = {{ClipLuma(176, 144, 0, 2), ClipLuma(176, 144, 1, 2)},
                 {ClipLuma(176, 144, 4, 8), ClipLuma(176, 144, 6, 8)},
                 {noise, noise},
                 {hashed, hashedMoved},
                 {stripes, stripesMoved},
                 {Flat(0), Flat(255)}};
    for (const Pair& pair : pairs) {
        Prepare(176, 144, pair.reference, pair.source);
        ComputeBlockSums(reference_.y, reference_.stride, 144, 16, field_.referenceSums);
        for (uint32_t row = 0; row < field_.mbRows; ++row) {
            for (uint32_t col = 0; col < field_.mbCols; ++col) {
                // Carried vectors of all kinds, some at the window's edge.
                const MotionEntry start{static_cast<int16_t>(static_cast<int>(random() % 129) - 64),
                                        static_cast<int16_t>(static_cast<int>(random() % 65) - 32), 0.0f};
                const SearchWindow w = MacroblockSearchWindow(field_, int32_t(col) * 16, int32_t(row) * 16);
                MotionEntry& entry = Entry(col, row);
                entry = start;
                entry.dx = static_cast<int16_t>(
                    std::clamp(entry.dx / 2, w.xlo - int32_t(col) * 16, w.xhi - int32_t(col) * 16) * 2);
                entry.dy = static_cast<int16_t>(
                    std::clamp(entry.dy / 2, w.ylo - int32_t(row) * 16, w.yhi - int32_t(row) * 16) * 2);
                const MotionEntry carried = entry;
                const float measured = SearchMacroblock(field_, col, row);
                const MotionEntry all = entry;
                entry = carried;
                ASSERT_EQ(SearchMacroblock(field_, col, row, &field_.referenceSums), measured);
                ASSERT_EQ(entry.dx, all.dx) << col << "," << row;
                ASSERT_EQ(entry.dy, all.dy) << col << "," << row;
            }
        }
    }
}

TEST_F(EstimationTest, DifferencesAreAgainstTheDecodersPrediction) {
    Prepare(128, 96, test::Texture, QuadrantMoved);
    field_.fastSearch = 1;
    field_.subBlockSearch = 1;
    ASSERT_TRUE(EstimateMotion(source_, field_, reference_, difference_));
    ASSERT_GT(field_.subBlockCount, 0);

    // The decoder's prediction, from the coded section, is the one the differences were taken against.
    std::vector<uint8_t> section;
    ASSERT_TRUE(EncodeMotionSection(field_, section));
    EXPECT_TRUE(section[0] == 2 || section[0] == 3);
    YuvFrame prediction;
    AllocateFrame(prediction, 128, 96, 16);
    MotionField decoder;
    AllocateMotionField(decoder, 128, 96, 16);
    decoder.previous = field_.previous;
    ASSERT_TRUE(DecodeMotionSection(prediction, reference_, section.data(), section.size(), decoder));
    ASSERT_TRUE(CompensateMotion(decoder));
    for (int32_t y = 0; y < 96; ++y) {
        for (int32_t x = 0; x < 128; ++x) {
            int expected = Pixel(source_, source_.y, x, y) - Pixel(prediction, prediction.y, x, y) + 128;
            ASSERT_EQ(difference_.y[y * 128 + x], expected) << x << "," << y;
        }
    }
    for (int32_t y = 0; y < 48; ++y) {
        for (int32_t x = 0; x < 64; ++x) {
            int u = Pixel(source_, source_.u, x, y) - Pixel(prediction, prediction.u, x, y) + 128;
            int v = Pixel(source_, source_.v, x, y) - Pixel(prediction, prediction.v, x, y) + 128;
            ASSERT_EQ(difference_.u[y * 128 + x], u);
            ASSERT_EQ(difference_.v[y * 128 + x], v);
        }
    }
}

TEST_F(EstimationTest, MismatchedFramesAreRefused) {
    Prepare(64, 48, test::Texture, test::Texture);
    YuvFrame other;
    test::MakeFrame(other, 64, 32, test::Texture);
    EXPECT_FALSE(EstimateMotion(source_, field_, other, difference_));
    DifferenceFrame small;
    AllocateDifferenceFrame(small, 32, 48);
    EXPECT_FALSE(EstimateMotion(source_, field_, reference_, small));
}

}  // namespace
}  // namespace rq43
