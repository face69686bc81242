// Every SIMD picture kernel against the plain C one: same bytes written, none written beyond the row.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "dsp/dsp_levels.h"
#include "picture/colour_tables.h"
#include "picture/input_conversion.h"
#include "picture/output_conversion.h"
#include "picture/picture_kernels.h"
#include "picture/prefilter.h"

namespace rq43 {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kGuard = 64;  // bytes after every output, which no kernel may touch

Bytes Random(size_t count, std::mt19937& random) {
    Bytes out(count);
    for (auto& byte : out) byte = static_cast<uint8_t>(random());
    return out;
}

// Widths across every vector step and its tail, and a real picture row.
std::vector<uint32_t> Widths() {
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 70; ++w) widths.push_back(w);
    widths.push_back(640);
    return widths;
}

// Input patterns for a row of `count` bytes: random, the extremes, and a ramp through every value.
std::vector<Bytes> Patterns(size_t count, std::mt19937& random) {
    Bytes ramp(count);
    for (size_t i = 0; i < count; ++i) ramp[i] = static_cast<uint8_t>(i * 7);
    return {Random(count, random), Bytes(count, 0), Bytes(count, 255), ramp};
}

class PictureKernelTest : public testing::TestWithParam<dsp::CpuLevel> {
  protected:
    const dsp::PictureKernels& c = PictureKernelsFor(dsp::CpuLevel::C);
    const dsp::PictureKernels& simd = PictureKernelsFor(GetParam());
    std::mt19937 random{14};
};

TEST_P(PictureKernelTest, PackedOutputRows) {
    for (uint32_t pairs : Widths()) {
        for (const Bytes& y : Patterns(2 * pairs, random)) {
            for (const Bytes& chroma : Patterns(2 * pairs, random)) {
                const uint8_t* u = chroma.data();
                const uint8_t* v = chroma.data() + pairs;
                for (auto member : {&dsp::PictureKernels::packUyvyRow, &dsp::PictureKernels::packYuy2Row}) {
                    Bytes expected(4 * pairs + kGuard, 0xA5), actual = expected;
                    (c.*member)(y.data(), u, v, pairs, expected.data());
                    (simd.*member)(y.data(), u, v, pairs, actual.data());
                    ASSERT_EQ(actual, expected) << pairs << " pairs";
                }
            }
        }
    }
}

// Every table entry of every channel, saturation at both ends (Y 0 or 255 with extreme chroma), and
// the fourth byte of 32-bit pixels kept.
TEST_P(PictureKernelTest, RgbOutputRows) {
    const dsp::RgbOutputTables tables = RgbOutputTablesOf(GetColourTables());
    for (uint32_t width : Widths()) {
        const uint32_t chromaWidth = (width + 1) / 2;
        for (const Bytes& y : Patterns(width, random)) {
            for (const Bytes& chroma : Patterns(2 * chromaWidth, random)) {
                const uint8_t* u = chroma.data();
                const uint8_t* v = chroma.data() + chromaWidth;
                for (int32_t bytesPerPixel : {3, 4}) {
                    Bytes expected = Random(width * size_t(bytesPerPixel) + kGuard, random),
                          actual = expected;
                    c.yuvToRgbRow(y.data(), u, v, width, bytesPerPixel, tables, expected.data());
                    simd.yuvToRgbRow(y.data(), u, v, width, bytesPerPixel, tables, actual.data());
                    ASSERT_EQ(actual, expected) << width << " pixels of " << bytesPerPixel << " bytes";
                }
            }
        }
    }
}

TEST_P(PictureKernelTest, RgbInputRows) {
    const dsp::RgbInputTables tables = RgbInputTablesOf(GetColourTables());
    for (uint32_t width : Widths()) {
        for (int32_t bytesPerPixel : {3, 4}) {
            for (const Bytes& pixels : Patterns(width * size_t(bytesPerPixel), random)) {
                Bytes expected(3 * (width + kGuard), 0xA5), actual = expected;
                auto run = [&](const dsp::PictureKernels& kernels, Bytes& out) {
                    kernels.rgbToYuvRow(pixels.data(), width, bytesPerPixel, tables, out.data(),
                                        out.data() + width + kGuard, out.data() + 2 * (width + kGuard));
                };
                run(c, expected);
                run(simd, actual);
                ASSERT_EQ(actual, expected) << width << " pixels of " << bytesPerPixel << " bytes";
            }
        }
    }
}

TEST_P(PictureKernelTest, DeinterleavedRows) {
    for (uint32_t pairs : Widths()) {
        const Bytes in = Random(2 * pairs, random);
        Bytes expected(2 * (pairs + kGuard), 0xA5), actual = expected;
        c.deinterleaveRow(in.data(), pairs, expected.data(), expected.data() + pairs + kGuard);
        simd.deinterleaveRow(in.data(), pairs, actual.data(), actual.data() + pairs + kGuard);
        ASSERT_EQ(actual, expected) << pairs << " pairs";
    }
}

// Columns whose filter sum lies exactly halfway between two results, where the rounding decides.
std::vector<Bytes> HalfwayColumns(uint32_t width) {
    uint32_t inverse = 1;  // of 127, modulo 2^15
    while ((127 * inverse) % 32768 != 1) ++inverse;
    std::vector<Bytes> rows(6, Bytes(width));
    uint32_t x = 0;
    for (uint32_t be = 0; be <= 510 && x < width; ++be) {
        for (uint32_t cd = 0; cd <= 510 && x < width; ++cd) {
            // -127 af + 1977 be + 14534 cd = 16384 (mod 2^15)
            const uint32_t af = ((1977 * be + 14534 * cd + 16384) % 32768) * inverse % 32768;
            if (af > 510) continue;
            for (auto [pair, first, second] : {std::tuple{af, 0, 5}, {be, 1, 4}, {cd, 2, 3}}) {
                rows[size_t(first)][x] = static_cast<uint8_t>(pair / 2);
                rows[size_t(second)][x] = static_cast<uint8_t>(pair - pair / 2);
            }
            ++x;
        }
    }
    return rows;
}

// Random rows, the sums that saturate below 0 (outer taps only) and above 255 (inner taps only), sums
// halfway between two results, and rows repeated as the picture ends' extensions repeat them.
TEST_P(PictureKernelTest, DecimatedColumns) {
    for (uint32_t width : Widths()) {
        std::vector<Bytes> lines = HalfwayColumns(width);
        for (int i = 0; i < 6; ++i) lines.push_back(Random(width, random));
        lines.push_back(Bytes(width, 0));
        lines.push_back(Bytes(width, 255));
        const std::vector<std::array<int, 6>> choices = {{0, 1, 2, 3, 4, 5},       {6, 7, 8, 9, 10, 11},
                                                         {13, 12, 12, 12, 12, 13}, {12, 13, 13, 13, 13, 12},
                                                         {8, 7, 6, 7, 8, 9},       {6, 7, 8, 8, 7, 6}};
        for (const auto& choice : choices) {
            const uint8_t* rows[6];
            for (int t = 0; t < 6; ++t) rows[t] = lines[size_t(choice[size_t(t)])].data();
            Bytes expected(width + kGuard, 0xA5), actual = expected;
            c.decimateColumns(rows, width, expected.data());
            simd.decimateColumns(rows, width, actual.data());
            ASSERT_EQ(actual, expected) << width << " columns";
        }
    }
}

// Rows of 0 and 255 alone reach both saturations (outer taps only, inner taps only) among their sums.
TEST_P(PictureKernelTest, DecimatedPairs) {
    for (uint32_t count : Widths()) {
        std::vector<Bytes> rows = Patterns(2 * size_t{count} + 4, random);
        Bytes extremes(2 * size_t{count} + 4);
        for (uint8_t& v : extremes) v = random() % 2 != 0 ? 255 : 0;
        rows.push_back(extremes);
        for (const Bytes& in : rows) {
            Bytes expected(count + kGuard, 0xA5), actual = expected;
            c.decimatePairs(in.data(), count, expected.data());
            simd.decimatePairs(in.data(), count, actual.data());
            ASSERT_EQ(actual, expected) << count << " outputs";
        }
    }
}

// Smooth rows (where the filter moves pixels), noise (where it keeps them), rows at both plane ends, and
// the strengths at both ends of the range.
TEST_P(PictureKernelTest, PrefilterRows) {
    for (int32_t strength : {1, 7, 20}) {
        const PsiTable psi = BuildPsiTable(strength);
        for (uint32_t width : Widths()) {
            std::vector<Bytes> lines;
            for (int i = 0; i < 3; ++i) {
                lines.push_back(Random(width, random));
                Bytes smooth(width);
                for (size_t x = 0; x < width; ++x) smooth[x] = static_cast<uint8_t>(120 + random() % 9);
                lines.push_back(smooth);
            }
            for (size_t set = 0; set < 2; ++set) {
                for (int ends = 0; ends < 4; ++ends) {
                    const bool hasAbove = (ends & 1) != 0, hasBelow = (ends & 2) != 0;
                    auto run = [&](const dsp::PictureKernels& kernels) {
                        Bytes above = lines[set], pending = Random(width, random);
                        above.resize(width + kGuard, 0xA5);
                        pending.resize(width + kGuard, 0xA5);
                        kernels.prefilterRow(hasAbove ? above.data() : nullptr, lines[set + 2].data(),
                                             hasBelow ? lines[set + 4].data() : nullptr, width, psi.data(),
                                             pending.data());
                        return std::vector<Bytes>{above, pending};
                    };
                    const std::mt19937 start = random;
                    const auto expected = run(c);
                    random = start;
                    ASSERT_EQ(run(simd), expected)
                        << width << " pixels, strength " << strength << ", ends " << ends;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, PictureKernelTest, testing::ValuesIn(test::SimdLevelsToCheck()),
                         [](const auto& info) { return std::string(dsp::CpuLevelName(info.param)); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PictureKernelTest);

}  // namespace
}  // namespace rq43
