#include "transform/forward_dct.h"

#include "transform/fixed_point.h"

namespace rq43 {
namespace {

void ForwardColumn(int16_t* x) {
    const int16_t t0 = ShiftLeft16(AddSat(x[0], x[56]), 3);
    const int16_t t1 = ShiftLeft16(AddSat(x[8], x[48]), 3);
    const int16_t t2 = ShiftLeft16(AddSat(x[16], x[40]), 3);
    const int16_t t3 = ShiftLeft16(AddSat(x[24], x[32]), 3);
    const int16_t t4 = ShiftLeft16(SubSat(x[24], x[32]), 3);
    const int16_t t7 = ShiftLeft16(SubSat(x[0], x[56]), 3);
    const int16_t t5 = ShiftLeft16(SubSat(x[16], x[40]), 4);
    const int16_t t6 = ShiftLeft16(SubSat(x[8], x[48]), 4);

    const int16_t tp03 = AddSat(t0, t3), tm03 = SubSat(t0, t3);
    const int16_t tp12 = AddSat(t1, t2), tm12 = SubSat(t1, t2);

    const int16_t tp65 = SetLowBit(MulHi(AddSat(t6, t5), kCos4Half));
    const int16_t tm65 = MulHi(SubSat(t6, t5), kCos4Half);
    const int16_t tp465 = AddSat(t4, tm65), tm465 = SubSat(t4, tm65);
    const int16_t tp765 = AddSat(t7, tp65), tm765 = SubSat(t7, tp65);

    x[0] = AddSat(tp03, tp12);
    x[32] = SubSat(tp03, tp12);
    x[16] = SetLowBit(AddSat(tm03, MulHi(tm12, kTan2)));
    x[48] = SetLowBit(SubSat(MulHi(tm03, kTan2), tm12));
    x[8] = SetLowBit(AddSat(MulHi(tp465, kTan1), tp765));
    x[56] = SubSat(MulHi(tp765, kTan1), tp465);
    x[24] = SubSat(tm765, AddSat(MulHi(tm465, kTan3Minus1), tm465));
    x[40] = AddSat(AddSat(MulHi(tm765, kTan3Minus1), tm765), tm465);
}

int16_t RoundRowOutput(uint32_t sum) {
    // The shift of the wrapped 32-bit sum always fits 16 bits; the saturation mirrors the pack.
    return Saturate16(static_cast<int32_t>(sum + 524288u) >> 17);
}

void ForwardRow(int16_t* x, const DctRowConstants& k) {
    const int32_t s07 = AddSat(x[0], x[7]), s16 = AddSat(x[1], x[6]);
    const int32_t s25 = AddSat(x[2], x[5]), s34 = AddSat(x[3], x[4]);
    const int32_t d07 = SubSat(x[0], x[7]), d16 = SubSat(x[1], x[6]);
    const int32_t d25 = SubSat(x[2], x[5]), d34 = SubSat(x[3], x[4]);

    const uint32_t y0 = Mac32(Mac32(Mac32(Mac32(0, k.p, s07), k.p, s16), k.p, s25), k.p, s34);
    const uint32_t y4 = Mac32(Mac32(Mac32(Mac32(0, k.p, s07), -k.p, s16), -k.p, s25), k.p, s34);
    const uint32_t y2 = Mac32(Mac32(Mac32(Mac32(0, k.q2, s07), k.q6, s16), -k.q6, s25), -k.q2, s34);
    const uint32_t y6 = Mac32(Mac32(Mac32(Mac32(0, k.q6, s07), -k.q2, s16), k.q2, s25), -k.q6, s34);
    const uint32_t y1 = Mac32(Mac32(Mac32(Mac32(0, k.q1, d07), k.q3, d16), k.q5, d25), k.q7, d34);
    const uint32_t y3 = Mac32(Mac32(Mac32(Mac32(0, k.q3, d07), -k.q7, d16), -k.q1, d25), -k.q5, d34);
    const uint32_t y5 = Mac32(Mac32(Mac32(Mac32(0, k.q5, d07), -k.q1, d16), k.q7, d25), k.q3, d34);
    const uint32_t y7 = Mac32(Mac32(Mac32(Mac32(0, k.q7, d07), -k.q5, d16), k.q3, d25), -k.q1, d34);

    x[0] = RoundRowOutput(y0);
    x[1] = RoundRowOutput(y1);
    x[2] = RoundRowOutput(y2);
    x[3] = RoundRowOutput(y3);
    x[4] = RoundRowOutput(y4);
    x[5] = RoundRowOutput(y5);
    x[6] = RoundRowOutput(y6);
    x[7] = RoundRowOutput(y7);
}

}  // namespace

void ForwardDct(int16_t block[64]) {
    for (int column = 0; column < 8; ++column) ForwardColumn(block + column);
    for (int row = 0; row < 8; ++row) ForwardRow(block + 8 * row, kDctRowConstants[kDctRowGroup[row]]);
}

void ForwardDctOfPixels(const uint8_t* pixels, int32_t stride, int32_t count, int16_t* blocks,
                        ptrdiff_t blockStep) {
    for (int32_t i = 0; i < count; ++i, pixels += 8, blocks += blockStep) {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                blocks[8 * r + c] = static_cast<int16_t>(pixels[ptrdiff_t{r} * stride + c] - 128);
        ForwardDct(blocks);
    }
}

void ForwardDctOfDifferences(const int16_t* samples, int32_t pitch, int32_t count, int16_t* blocks,
                             ptrdiff_t blockStep) {
    for (int32_t i = 0; i < count; ++i, samples += 8, blocks += blockStep) {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                blocks[8 * r + c] = Wrap16(int32_t{samples[ptrdiff_t{r} * pitch + c]} - 128);
        ForwardDct(blocks);
    }
}

}  // namespace rq43
