#include "transform/inverse_dct.h"

#include <cstddef>

#include "dsp/transform_constants.h"
#include "transform/fixed_point.h"

namespace rq43 {
namespace {

// A crafted stream can overflow the 32-bit sums; they wrap as the multiply-add instruction does.
int16_t RowOutput(uint32_t sum) {
    return Saturate16(static_cast<int32_t>(sum) >> 11);
}

void InverseRow(int16_t* x, const DctRowConstants& k) {
    const int32_t x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4], x5 = x[5], x6 = x[6], x7 = x[7];
    const uint32_t a0 = Mac32(Mac32(Mac32(Mac32(1024, k.p, x0), k.q2, x2), k.p, x4), k.q6, x6);
    const uint32_t a1 = Mac32(Mac32(Mac32(Mac32(1024, k.p, x0), k.q6, x2), -k.p, x4), -k.q2, x6);
    const uint32_t a2 = Mac32(Mac32(Mac32(Mac32(1024, k.p, x0), -k.q6, x2), -k.p, x4), k.q2, x6);
    const uint32_t a3 = Mac32(Mac32(Mac32(Mac32(1024, k.p, x0), -k.q2, x2), k.p, x4), -k.q6, x6);
    const uint32_t b0 = Mac32(Mac32(Mac32(Mac32(0, k.q1, x1), k.q3, x3), k.q5, x5), k.q7, x7);
    const uint32_t b1 = Mac32(Mac32(Mac32(Mac32(0, k.q3, x1), -k.q7, x3), -k.q1, x5), -k.q5, x7);
    const uint32_t b2 = Mac32(Mac32(Mac32(Mac32(0, k.q5, x1), -k.q1, x3), k.q7, x5), k.q3, x7);
    const uint32_t b3 = Mac32(Mac32(Mac32(Mac32(0, k.q7, x1), -k.q5, x3), k.q3, x5), -k.q1, x7);
    x[0] = RowOutput(a0 + b0);
    x[1] = RowOutput(a1 + b1);
    x[2] = RowOutput(a2 + b2);
    x[3] = RowOutput(a3 + b3);
    x[4] = RowOutput(a3 - b3);
    x[5] = RowOutput(a2 - b2);
    x[6] = RowOutput(a1 - b1);
    x[7] = RowOutput(a0 - b0);
}

int16_t Shift6(int16_t value) {
    return static_cast<int16_t>(value >> 6);
}

void InverseColumn(int16_t* y) {
    const int16_t y0 = y[0], y1 = y[8], y2 = y[16], y3 = y[24];
    const int16_t y4 = y[32], y5 = y[40], y6 = y[48], y7 = y[56];

    const int16_t tp17 = AddSat(y1, MulHi(y7, kTan1));
    const int16_t tm17 = SubSat(MulHi(y1, kTan1), y7);
    const int16_t tp35 = AddSat(AddSat(MulHi(y5, kTan3Minus1), y5), y3);
    const int16_t m35 = SubSat(y5, AddSat(MulHi(y3, kTan3Minus1), y3));
    const int16_t tp26 = AddSat(MulHi(y6, kTan2), y2);
    const int16_t tm26 = SubSat(MulHi(y2, kTan2), y6);

    const int16_t b0 = AddSat(AddSat(tp17, tp35), 1);
    const int16_t t1 = SubSat(tp17, tp35);
    const int16_t t2 = AddSat(SubSat(tm17, m35), 1);
    const int16_t b3 = AddSat(tm17, m35);
    const int16_t s = AddSat(t1, t2);
    const int16_t b1 = SetLowBit(AddSat(s, MulHi(s, kCos4Minus1)));
    const int16_t d = SubSat(t1, t2);
    const int16_t b2 = SetLowBit(AddSat(d, MulHi(d, kCos4Minus1)));

    const int16_t tp04 = AddSat(y0, y4), tm04 = SubSat(y0, y4);
    const int16_t a0 = AddSat(AddSat(tp04, tp26), 32);
    const int16_t a1 = AddSat(AddSat(tm04, tm26), 32);
    const int16_t a2 = AddSat(SubSat(tm04, tm26), 31);
    const int16_t a3 = AddSat(SubSat(tp04, tp26), 31);

    y[0] = Shift6(AddSat(a0, b0));
    y[8] = Shift6(AddSat(a1, b1));
    y[16] = Shift6(AddSat(a2, b2));
    y[24] = Shift6(AddSat(a3, b3));
    y[32] = Shift6(SubSat(a3, b3));
    y[40] = Shift6(SubSat(a2, b2));
    y[48] = Shift6(SubSat(a1, b1));
    y[56] = Shift6(SubSat(a0, b0));
}

uint8_t Saturate8(int32_t value) {
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

}  // namespace

void DequantiseBlock(const int16_t* steps, const int16_t* levels, int16_t* coefficients) {
    for (int k = 0; k < 64; ++k) {
        coefficients[k] = Wrap16(int32_t{levels[kZigzagInverse[k]]} * steps[k]);
    }
}

void InverseDct(const int16_t* coefficients, int16_t* samples, int level) {
    int16_t work[64];
    for (int i = 0; i < 64; ++i) work[i] = coefficients[i];
    work[0] = Wrap16(int32_t{work[0]} + 8 * level);
    for (int row = 0; row < 8; ++row) InverseRow(work + 8 * row, kDctRowConstants[kDctRowGroup[row]]);
    for (int column = 0; column < 8; ++column) InverseColumn(work + column);
    for (int i = 0; i < 64; ++i) samples[i] = work[i];
}

void IdctPut(const int16_t* coefficients, uint8_t* destination, int32_t stride) {
    int16_t samples[64];
    InverseDct(coefficients, samples, 128);
    for (int r = 0; r < 8; ++r) {
        uint8_t* row = destination + static_cast<std::ptrdiff_t>(r) * stride;
        for (int c = 0; c < 8; ++c) row[c] = Saturate8(samples[8 * r + c]);
    }
}

void AddBlock(uint8_t* destination, int32_t stride, const int16_t* residual) {
    for (int r = 0; r < 8; ++r) {
        uint8_t* row = destination + static_cast<std::ptrdiff_t>(r) * stride;
        for (int c = 0; c < 8; ++c) row[c] = Saturate8(AddSat(row[c], residual[8 * r + c]));
    }
}

}  // namespace rq43
