// The transform kernels in 128-bit vectors, shared by the SSE2 build and the AVX2 build (which encodes the
// same steps in three-operand form). A block sits in eight registers, one row each; the row passes work on
// the transposed block so that each register holds one position of all eight rows.
// Included only by src/dsp/x86 files: intrinsics, fixed-width types and the format's constants.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "dsp/transform_constants.h"

namespace rq43::dsp {
namespace {

// A multiply-add operand: for row pair lanes 2j, 2j+1 the weights of the row's group.
struct alignas(16) Weights {
    int16_t lane[8];
};

enum Term { kP, kQ1, kQ2, kQ3, kQ5, kQ6, kQ7 };

struct SignedTerm {
    Term term;
    int sign;
};

// The weights of two values of a row, (first, second), in one multiply-add.
struct PairSpec {
    SignedTerm first, second;
};

constexpr int32_t TermValue(const DctRowConstants& k, Term term) {
    switch (term) {
        case kP:
            return k.p;
        case kQ1:
            return k.q1;
        case kQ2:
            return k.q2;
        case kQ3:
            return k.q3;
        case kQ5:
            return k.q5;
        case kQ6:
            return k.q6;
        case kQ7:
            return k.q7;
    }
    return 0;
}

// Per output: [pair][half] where half 0 covers rows 0..3 and half 1 rows 4..7.
struct WeightTable {
    Weights output[8][2][2];
};

constexpr WeightTable BuildWeights(const PairSpec (&specs)[8][2]) {
    WeightTable table{};
    for (int output = 0; output < 8; ++output) {
        for (int pair = 0; pair < 2; ++pair) {
            const PairSpec& spec = specs[output][pair];
            for (int half = 0; half < 2; ++half) {
                for (int j = 0; j < 4; ++j) {
                    const DctRowConstants& k = kDctRowConstants[kDctRowGroup[4 * half + j]];
                    table.output[output][pair][half].lane[2 * j] =
                        static_cast<int16_t>(spec.first.sign * TermValue(k, spec.first.term));
                    table.output[output][pair][half].lane[2 * j + 1] =
                        static_cast<int16_t>(spec.second.sign * TermValue(k, spec.second.term));
                }
            }
        }
    }
    return table;
}

// Forward row outputs Y0..Y7 over the pairs (s07, s16), (s25, s34) for even and (d07, d16), (d25, d34)
// for odd outputs.
constexpr PairSpec kForwardSpecs[8][2] = {
    {{{kP, 1}, {kP, 1}}, {{kP, 1}, {kP, 1}}},       {{{kQ1, 1}, {kQ3, 1}}, {{kQ5, 1}, {kQ7, 1}}},
    {{{kQ2, 1}, {kQ6, 1}}, {{kQ6, -1}, {kQ2, -1}}}, {{{kQ3, 1}, {kQ7, -1}}, {{kQ1, -1}, {kQ5, -1}}},
    {{{kP, 1}, {kP, -1}}, {{kP, -1}, {kP, 1}}},     {{{kQ5, 1}, {kQ1, -1}}, {{kQ7, 1}, {kQ3, 1}}},
    {{{kQ6, 1}, {kQ2, -1}}, {{kQ2, 1}, {kQ6, -1}}}, {{{kQ7, 1}, {kQ5, -1}}, {{kQ3, 1}, {kQ1, -1}}},
};

// Inverse row sums a0..a3 over (x0, x2), (x4, x6), then b0..b3 over (x1, x3), (x5, x7).
constexpr PairSpec kInverseSpecs[8][2] = {
    {{{kP, 1}, {kQ2, 1}}, {{kP, 1}, {kQ6, 1}}},    {{{kP, 1}, {kQ6, 1}}, {{kP, -1}, {kQ2, -1}}},
    {{{kP, 1}, {kQ6, -1}}, {{kP, -1}, {kQ2, 1}}},  {{{kP, 1}, {kQ2, -1}}, {{kP, 1}, {kQ6, -1}}},
    {{{kQ1, 1}, {kQ3, 1}}, {{kQ5, 1}, {kQ7, 1}}},  {{{kQ3, 1}, {kQ7, -1}}, {{kQ1, -1}, {kQ5, -1}}},
    {{{kQ5, 1}, {kQ1, -1}}, {{kQ7, 1}, {kQ3, 1}}}, {{{kQ7, 1}, {kQ5, -1}}, {{kQ3, 1}, {kQ1, -1}}},
};

inline constexpr WeightTable kForwardWeights = BuildWeights(kForwardSpecs);
inline constexpr WeightTable kInverseWeights = BuildWeights(kInverseSpecs);

inline __m128i Load(const int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store(int16_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// The lane operations of the transforms on one block in 128-bit registers. None crosses a 128-bit lane,
// so a wider register's set (in the file compiled for it) runs two or four horizontally adjacent blocks
// side by side, block b in lane b: kBlocks of them, a row of all of them loaded at once (pixels widened)
// and a row of each stored to its block.
struct Lanes128 {
    using V = __m128i;
    static constexpr int kBlocks = 1;
    static V Adds(V a, V b) { return _mm_adds_epi16(a, b); }
    static V Subs(V a, V b) { return _mm_subs_epi16(a, b); }
    static V Sub(V a, V b) { return _mm_sub_epi16(a, b); }
    template <int N>
    static V ShiftLeft(V a) {
        return _mm_slli_epi16(a, N);
    }
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    static V Set(int16_t k) { return _mm_set1_epi16(k); }
    static V MulHi(V a, int16_t k) { return _mm_mulhi_epi16(a, _mm_set1_epi16(k)); }
    static V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V UnpackLo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V UnpackHi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V UnpackLo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V UnpackHi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
    static V Madd(V a, const Weights& w) {
        return _mm_madd_epi16(a, _mm_load_si128(reinterpret_cast<const __m128i*>(w.lane)));
    }
    static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V Sub32(V a, V b) { return _mm_sub_epi32(a, b); }
    static V Set32(int32_t k) { return _mm_set1_epi32(k); }
    template <int N>
    static V ShiftRight32(V a) {
        return _mm_srai_epi32(a, N);
    }
    static V Pack32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V Row(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    }
    static V Row(const int16_t* p) { return Load(p); }
    static void StoreRow(int16_t* p, ptrdiff_t /*blockStep*/, V v) { Store(p, v); }
};

template <class L = Lanes128>
inline void Transpose(typename L::V x[8]) {
    using V = typename L::V;
    const V a0 = L::UnpackLo16(x[0], x[1]), a1 = L::UnpackHi16(x[0], x[1]);
    const V a2 = L::UnpackLo16(x[2], x[3]), a3 = L::UnpackHi16(x[2], x[3]);
    const V a4 = L::UnpackLo16(x[4], x[5]), a5 = L::UnpackHi16(x[4], x[5]);
    const V a6 = L::UnpackLo16(x[6], x[7]), a7 = L::UnpackHi16(x[6], x[7]);
    const V b0 = L::UnpackLo32(a0, a2), b1 = L::UnpackHi32(a0, a2);
    const V b2 = L::UnpackLo32(a1, a3), b3 = L::UnpackHi32(a1, a3);
    const V b4 = L::UnpackLo32(a4, a6), b5 = L::UnpackHi32(a4, a6);
    const V b6 = L::UnpackLo32(a5, a7), b7 = L::UnpackHi32(a5, a7);
    x[0] = L::UnpackLo64(b0, b4);
    x[1] = L::UnpackHi64(b0, b4);
    x[2] = L::UnpackLo64(b1, b5);
    x[3] = L::UnpackHi64(b1, b5);
    x[4] = L::UnpackLo64(b2, b6);
    x[5] = L::UnpackHi64(b2, b6);
    x[6] = L::UnpackLo64(b3, b7);
    x[7] = L::UnpackHi64(b3, b7);
}

// Two values of every row interleaved: lo holds rows 0..3, hi rows 4..7.
template <class L>
struct PairsOf {
    typename L::V lo, hi;
};
using Pairs = PairsOf<Lanes128>;

template <class L = Lanes128>
inline PairsOf<L> Interleave(typename L::V first, typename L::V second) {
    return {L::UnpackLo16(first, second), L::UnpackHi16(first, second)};
}

// The 32-bit sums of both pairs weighted for one output; they wrap as the C sums do.
template <class L = Lanes128>
inline PairsOf<L> WeightedSum(const PairsOf<L>& a, const PairsOf<L>& b, const Weights (&w)[2][2]) {
    return {L::Add32(L::Madd(a.lo, w[0][0]), L::Madd(b.lo, w[1][0])),
            L::Add32(L::Madd(a.hi, w[0][1]), L::Madd(b.hi, w[1][1]))};
}

template <int Shift, class L = Lanes128>
inline typename L::V RoundAndPack(const PairsOf<L>& sum, typename L::V rounding) {
    return L::Pack32(L::template ShiftRight32<Shift>(L::Add32(sum.lo, rounding)),
                     L::template ShiftRight32<Shift>(L::Add32(sum.hi, rounding)));
}

inline __m128i MulHi(__m128i a, int16_t k) {
    return Lanes128::MulHi(a, k);
}

// x: eight rows of samples in, eight rows of coefficients out. Inlined even where the compiler would not:
// a call keeps the block's registers in memory.
template <class L>
[[gnu::always_inline]] inline void ForwardDctRegisters(typename L::V x[8]) {
    using V = typename L::V;
    const V one = L::Set(1);
    const V t0 = L::template ShiftLeft<3>(L::Adds(x[0], x[7]));
    const V t1 = L::template ShiftLeft<3>(L::Adds(x[1], x[6]));
    const V t2 = L::template ShiftLeft<3>(L::Adds(x[2], x[5]));
    const V t3 = L::template ShiftLeft<3>(L::Adds(x[3], x[4]));
    const V t4 = L::template ShiftLeft<3>(L::Subs(x[3], x[4]));
    const V t7 = L::template ShiftLeft<3>(L::Subs(x[0], x[7]));
    const V t5 = L::template ShiftLeft<4>(L::Subs(x[2], x[5]));
    const V t6 = L::template ShiftLeft<4>(L::Subs(x[1], x[6]));

    const V tp03 = L::Adds(t0, t3), tm03 = L::Subs(t0, t3);
    const V tp12 = L::Adds(t1, t2), tm12 = L::Subs(t1, t2);

    const V tp65 = L::Or(L::MulHi(L::Adds(t6, t5), kCos4Half), one);
    const V tm65 = L::MulHi(L::Subs(t6, t5), kCos4Half);
    const V tp465 = L::Adds(t4, tm65), tm465 = L::Subs(t4, tm65);
    const V tp765 = L::Adds(t7, tp65), tm765 = L::Subs(t7, tp65);

    x[0] = L::Adds(tp03, tp12);
    x[4] = L::Subs(tp03, tp12);
    x[2] = L::Or(L::Adds(tm03, L::MulHi(tm12, kTan2)), one);
    x[6] = L::Or(L::Subs(L::MulHi(tm03, kTan2), tm12), one);
    x[1] = L::Or(L::Adds(L::MulHi(tp465, kTan1), tp765), one);
    x[7] = L::Subs(L::MulHi(tp765, kTan1), tp465);
    x[3] = L::Subs(tm765, L::Adds(L::MulHi(tm465, kTan3Minus1), tm465));
    x[5] = L::Adds(L::Adds(L::MulHi(tm765, kTan3Minus1), tm765), tm465);

    Transpose<L>(x);  // x[c]: column c of every row
    const auto sum0716 = Interleave<L>(L::Adds(x[0], x[7]), L::Adds(x[1], x[6]));
    const auto sum2534 = Interleave<L>(L::Adds(x[2], x[5]), L::Adds(x[3], x[4]));
    const auto diff0716 = Interleave<L>(L::Subs(x[0], x[7]), L::Subs(x[1], x[6]));
    const auto diff2534 = Interleave<L>(L::Subs(x[2], x[5]), L::Subs(x[3], x[4]));
    const V rounding = L::Set32(524288);
    for (int k = 0; k < 8; k += 2) {
        x[k] = RoundAndPack<17, L>(WeightedSum<L>(sum0716, sum2534, kForwardWeights.output[k]), rounding);
        x[k + 1] =
            RoundAndPack<17, L>(WeightedSum<L>(diff0716, diff2534, kForwardWeights.output[k + 1]), rounding);
    }
    Transpose<L>(x);
}

// The transforms of `count` horizontally adjacent blocks of source pixels or difference samples (T),
// whose rows are `spacing` elements apart, less 128 (wrapping), as many at a time as Wide's registers hold
// and the rest one by one; block i goes to blocks + i blockStep.
template <class L, class T>
[[gnu::always_inline]] inline void ForwardDctOfLanes(const T* first, int32_t spacing, int16_t* blocks,
                                                     ptrdiff_t blockStep) {
    const typename L::V bias = L::Set(128);
    typename L::V x[8];
    for (int r = 0; r < 8; ++r) x[r] = L::Sub(L::Row(first + ptrdiff_t{r} * spacing), bias);
    ForwardDctRegisters<L>(x);
    for (int r = 0; r < 8; ++r) L::StoreRow(blocks + 8 * r, blockStep, x[r]);
}
template <class Wide, class T>
inline void ForwardDctOfBlocks(const T* first, int32_t spacing, int32_t count, int16_t* blocks,
                               ptrdiff_t blockStep) {
    int32_t i = 0;
    for (; i + Wide::kBlocks <= count; i += Wide::kBlocks)
        ForwardDctOfLanes<Wide>(first + 8 * i, spacing, blocks + i * blockStep, blockStep);
    for (; i < count; ++i)
        ForwardDctOfLanes<Lanes128>(first + 8 * i, spacing, blocks + i * blockStep, blockStep);
}

// The column pass: x holds eight rows of row-pass outputs, then eight rows of samples.
[[gnu::always_inline]] inline void InverseColumns(__m128i x[8]) {
    const __m128i one = _mm_set1_epi16(1);
    const __m128i tp17 = _mm_adds_epi16(x[1], MulHi(x[7], kTan1));
    const __m128i tm17 = _mm_subs_epi16(MulHi(x[1], kTan1), x[7]);
    const __m128i tp35 = _mm_adds_epi16(_mm_adds_epi16(MulHi(x[5], kTan3Minus1), x[5]), x[3]);
    const __m128i m35 = _mm_subs_epi16(x[5], _mm_adds_epi16(MulHi(x[3], kTan3Minus1), x[3]));
    const __m128i tp26 = _mm_adds_epi16(MulHi(x[6], kTan2), x[2]);
    const __m128i tm26 = _mm_subs_epi16(MulHi(x[2], kTan2), x[6]);

    const __m128i b0 = _mm_adds_epi16(_mm_adds_epi16(tp17, tp35), one);
    const __m128i t1 = _mm_subs_epi16(tp17, tp35);
    const __m128i t2 = _mm_adds_epi16(_mm_subs_epi16(tm17, m35), one);
    const __m128i b3 = _mm_adds_epi16(tm17, m35);
    const __m128i s = _mm_adds_epi16(t1, t2);
    const __m128i b1 = _mm_or_si128(_mm_adds_epi16(s, MulHi(s, kCos4Minus1)), one);
    const __m128i d = _mm_subs_epi16(t1, t2);
    const __m128i b2 = _mm_or_si128(_mm_adds_epi16(d, MulHi(d, kCos4Minus1)), one);

    const __m128i tp04 = _mm_adds_epi16(x[0], x[4]), tm04 = _mm_subs_epi16(x[0], x[4]);
    const __m128i round32 = _mm_set1_epi16(32), round31 = _mm_set1_epi16(31);
    const __m128i a0 = _mm_adds_epi16(_mm_adds_epi16(tp04, tp26), round32);
    const __m128i a1 = _mm_adds_epi16(_mm_adds_epi16(tm04, tm26), round32);
    const __m128i a2 = _mm_adds_epi16(_mm_subs_epi16(tm04, tm26), round31);
    const __m128i a3 = _mm_adds_epi16(_mm_subs_epi16(tp04, tp26), round31);

    x[0] = _mm_srai_epi16(_mm_adds_epi16(a0, b0), 6);
    x[1] = _mm_srai_epi16(_mm_adds_epi16(a1, b1), 6);
    x[2] = _mm_srai_epi16(_mm_adds_epi16(a2, b2), 6);
    x[3] = _mm_srai_epi16(_mm_adds_epi16(a3, b3), 6);
    x[4] = _mm_srai_epi16(_mm_subs_epi16(a3, b3), 6);
    x[5] = _mm_srai_epi16(_mm_subs_epi16(a2, b2), 6);
    x[6] = _mm_srai_epi16(_mm_subs_epi16(a1, b1), 6);
    x[7] = _mm_srai_epi16(_mm_subs_epi16(a0, b0), 6);
}

// x: coefficient c of every row in x[c] (the transposed block) in, eight rows of samples out.
[[gnu::always_inline]] inline void InverseDctOfColumns(__m128i x[8]) {
    const Pairs even02 = Interleave(x[0], x[2]), even46 = Interleave(x[4], x[6]);
    const Pairs odd13 = Interleave(x[1], x[3]), odd57 = Interleave(x[5], x[7]);
    const __m128i rounding = _mm_set1_epi32(1024);
    for (int k = 0; k < 4; ++k) {
        const Pairs a = WeightedSum(even02, even46, kInverseWeights.output[k]);
        const Pairs b = WeightedSum(odd13, odd57, kInverseWeights.output[4 + k]);
        x[k] = RoundAndPack<11>({_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}, rounding);
        x[7 - k] = RoundAndPack<11>({_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}, rounding);
    }
    Transpose(x);  // back to rows
    InverseColumns(x);
}

// x: eight rows of coefficients in (the level already folded into the DC), eight rows of samples out.
[[gnu::always_inline]] inline void InverseDctRegisters(__m128i x[8]) {
    Transpose(x);  // x[c]: coefficient c of every row
    InverseDctOfColumns(x);
}

// The same for blocks whose coefficients outside the top-left 4x4 are zero, as most coded blocks' are. A
// row of zeros sums to the rounding alone, which shifts to zero, so rows 4..7 stay zero after the row
// pass and the row pass needs only the first four values of the first four rows.
[[gnu::always_inline]] inline void InverseDctTopLeftRegisters(__m128i x[8]) {
    const __m128i rows01 = _mm_unpacklo_epi16(x[0], x[1]), rows23 = _mm_unpacklo_epi16(x[2], x[3]);
    const __m128i columns01 = _mm_unpacklo_epi32(rows01, rows23);  // coefficient 0 of rows 0..3, then 1
    const __m128i columns23 = _mm_unpackhi_epi32(rows01, rows23);
    const __m128i even02 = _mm_unpacklo_epi16(columns01, columns23);
    const __m128i odd13 = _mm_unpackhi_epi16(columns01, columns23);
    const __m128i rounding = _mm_set1_epi32(1024);
    __m128i column[8];  // output c of rows 0..3 in the low half
    for (int k = 0; k < 4; ++k) {
        const __m128i a = Lanes128::Madd(even02, kInverseWeights.output[k][0][0]);
        const __m128i b = Lanes128::Madd(odd13, kInverseWeights.output[4 + k][0][0]);
        const __m128i sum = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(a, b), rounding), 11);
        const __m128i difference = _mm_srai_epi32(_mm_add_epi32(_mm_sub_epi32(a, b), rounding), 11);
        column[k] = _mm_packs_epi32(sum, sum);
        column[7 - k] = _mm_packs_epi32(difference, difference);
    }
    const __m128i t01 = _mm_unpacklo_epi16(column[0], column[1]),
                  t23 = _mm_unpacklo_epi16(column[2], column[3]);
    const __m128i t45 = _mm_unpacklo_epi16(column[4], column[5]),
                  t67 = _mm_unpacklo_epi16(column[6], column[7]);
    const __m128i left01 = _mm_unpacklo_epi32(t01, t23), left23 = _mm_unpackhi_epi32(t01, t23);
    const __m128i right01 = _mm_unpacklo_epi32(t45, t67), right23 = _mm_unpackhi_epi32(t45, t67);
    x[0] = _mm_unpacklo_epi64(left01, right01);
    x[1] = _mm_unpackhi_epi64(left01, right01);
    x[2] = _mm_unpacklo_epi64(left23, right23);
    x[3] = _mm_unpackhi_epi64(left23, right23);
    x[4] = x[5] = x[6] = x[7] = _mm_setzero_si128();
    InverseColumns(x);
}

inline void LoadBlock(const int16_t* block, __m128i x[8]) {
    for (int r = 0; r < 8; ++r) x[r] = Load(block + 8 * r);
}
inline void StoreBlock(int16_t* block, const __m128i x[8]) {
    for (int r = 0; r < 8; ++r) Store(block + 8 * r, x[r]);
}

// Coefficient 0 += 8 * level, wrapping in 16 bits.
inline __m128i AddLevel(__m128i row0, int level) {
    return _mm_add_epi16(row0, _mm_cvtsi32_si128(static_cast<uint16_t>(8 * level)));
}

// Zigzag levels into raster rows, one element at a time (SSE2 has no byte shuffle).
inline void RasterFromZigzag(const int16_t* levels, __m128i x[8]) {
    alignas(16) int16_t raster[64];
    for (int i = 0; i < 64; ++i) raster[i] = levels[kZigzagInverse[i]];
    LoadBlock(raster, x);
}

template <size_t K>
inline void InsertLevel(const int16_t* levels, __m128i x[4]) {
    constexpr int raster = kZigzag[K];
    x[raster / 8] = _mm_insert_epi16(x[raster / 8], levels[K], raster % 8);
}

template <size_t... K>
inline void InsertLevels(const int16_t* levels, __m128i x[4], std::index_sequence<K...>) {
    (InsertLevel<K>(levels, x), ...);
}

// Rows 0..3 of the raster block, whose levels beyond kTopLeftLastIndex are zero, a lane at a time
// (through memory, the narrow stores would stall the wide loads).
inline void RasterTopLeftFromZigzag(const int16_t* levels, __m128i x[8]) {
    for (int r = 0; r < 4; ++r) x[r] = _mm_setzero_si128();
    InsertLevels(levels, x, std::make_index_sequence<kTopLeftLastIndex + 1>());
}

inline void ZigzagFromRaster(const __m128i x[8], int16_t* levels) {
    alignas(16) int16_t raster[64];
    StoreBlock(raster, x);
    for (int k = 0; k < 64; ++k) levels[k] = raster[kZigzag[k]];
}

// Raster levels times raster steps, keeping the low 16 bits.
inline void Dequantise(const int16_t* steps, __m128i x[8]) {
    for (int r = 0; r < 8; ++r) x[r] = _mm_mullo_epi16(x[r], Load(steps + 8 * r));
}

inline uint8_t* RowAt(uint8_t* destination, int32_t stride, int r) {
    return destination + static_cast<ptrdiff_t>(r) * stride;
}

inline void PutRows(const __m128i x[8], uint8_t* destination, int32_t stride) {
    for (int r = 0; r < 8; r += 2) {
        const __m128i bytes = _mm_packus_epi16(x[r], x[r + 1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(RowAt(destination, stride, r)), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(RowAt(destination, stride, r + 1)),
                         _mm_unpackhi_epi64(bytes, bytes));
    }
}

inline __m128i LoadPixels(const uint8_t* row) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)), _mm_setzero_si128());
}

inline void AddRows(const __m128i x[8], uint8_t* destination, int32_t stride) {
    for (int r = 0; r < 8; r += 2) {
        uint8_t* first = RowAt(destination, stride, r);
        uint8_t* second = RowAt(destination, stride, r + 1);
        const __m128i bytes = _mm_packus_epi16(_mm_adds_epi16(LoadPixels(first), x[r]),
                                               _mm_adds_epi16(LoadPixels(second), x[r + 1]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(first), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(second), _mm_unpackhi_epi64(bytes, bytes));
    }
}

// Raster coefficients in x to raster levels.
inline void Quantise(const int16_t* reciprocals, __m128i x[8]) {
    const __m128i offset = _mm_set1_epi32(5461);
    for (int r = 0; r < 8; ++r) {
        const __m128i sign = _mm_srai_epi16(x[r], 15);
        const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(x[r], sign), sign);  // 32768 read unsigned
        const __m128i m = Load(reciprocals + 8 * r);
        const __m128i low = _mm_mullo_epi16(magnitude, m), high = _mm_mulhi_epu16(magnitude, m);
        const __m128i scaledLo = _mm_srli_epi32(_mm_add_epi32(_mm_unpacklo_epi16(low, high), offset), 14);
        const __m128i scaledHi = _mm_srli_epi32(_mm_add_epi32(_mm_unpackhi_epi16(low, high), offset), 14);
        const __m128i value = _mm_packs_epi32(scaledLo, scaledHi);
        x[r] = _mm_sub_epi16(_mm_xor_si128(value, sign), sign);
    }
}

// The smallest raster index 1..63 of a non-zero level, else 0.
inline uint8_t FirstAcIndex(const __m128i x[8]) {
    const __m128i zero = _mm_setzero_si128();
    uint32_t nonZero[2];  // one bit per raster index
    for (int half = 0; half < 2; ++half) {
        const int r = 4 * half;
        const __m128i first = _mm_packs_epi16(_mm_cmpeq_epi16(x[r], zero), _mm_cmpeq_epi16(x[r + 1], zero));
        const __m128i second =
            _mm_packs_epi16(_mm_cmpeq_epi16(x[r + 2], zero), _mm_cmpeq_epi16(x[r + 3], zero));
        nonZero[half] = ~(static_cast<uint32_t>(_mm_movemask_epi8(first)) |
                          static_cast<uint32_t>(_mm_movemask_epi8(second)) << 16);
    }
    nonZero[0] &= ~1u;  // the DC level does not count
    if (nonZero[0] != 0) return static_cast<uint8_t>(__builtin_ctz(nonZero[0]));
    if (nonZero[1] != 0) return static_cast<uint8_t>(32 + __builtin_ctz(nonZero[1]));
    return 0;
}

// The block kernels of one level, which differ from another level's only in how they reorder levels:
// Order::ToRaster(levels, x) and Order::ToZigzag(x, levels). Each kernel file instantiates them with its
// own instruction set (this namespace keeps every copy to its file).
template <class Order>
struct BlockKernels {
    static uint8_t QuantiseBlock(int16_t* levels, const int16_t* reciprocals, const int16_t* coefficients) {
        __m128i x[8];
        LoadBlock(coefficients, x);
        Quantise(reciprocals, x);
        Order::ToZigzag(x, levels);
        return FirstAcIndex(x);
    }

    static void DequantiseBlock(const int16_t* steps, const int16_t* levels, int16_t* coefficients) {
        __m128i x[8];
        Order::ToRaster(levels, x);
        Dequantise(steps, x);
        StoreBlock(coefficients, x);
    }

    static void InverseDct(const int16_t* coefficients, int16_t* samples, int level) {
        __m128i x[8];
        LoadBlock(coefficients, x);
        x[0] = AddLevel(x[0], level);
        InverseDctRegisters(x);
        StoreBlock(samples, x);
    }

    static void IdctPut(const int16_t* coefficients, uint8_t* destination, int32_t stride) {
        __m128i x[8];
        LoadBlock(coefficients, x);
        x[0] = AddLevel(x[0], 128);
        InverseDctRegisters(x);
        PutRows(x, destination, stride);
    }

    // Levels to samples; with TopLeft the levels beyond kTopLeftLastIndex must be zero.
    template <bool TopLeft>
    static void Samples(const int16_t* steps, const int16_t* levels, int level, __m128i x[8]) {
        if constexpr (TopLeft) {
            Order::ToRasterTopLeft(levels, x);
            for (int r = 0; r < 4; ++r) x[r] = _mm_mullo_epi16(x[r], Load(steps + 8 * r));
        } else {
            Order::ToRaster(levels, x);
            Dequantise(steps, x);
        }
        if (level != 0) x[0] = AddLevel(x[0], level);
        if constexpr (TopLeft)
            InverseDctTopLeftRegisters(x);
        else
            InverseDctRegisters(x);
    }

    template <bool TopLeft>
    static void ReconstructIntra(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride) {
        __m128i x[8];
        Samples<TopLeft>(steps, levels, 128, x);
        PutRows(x, destination, stride);
    }

    template <bool TopLeft>
    static void ReconstructInter(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride) {
        __m128i x[8];
        Samples<TopLeft>(steps, levels, 0, x);
        AddRows(x, destination, stride);
    }
};

}  // namespace
}  // namespace rq43::dsp
