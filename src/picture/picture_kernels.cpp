#include "picture/picture_kernels.h"

#include "picture/chroma_decimation.h"
#include "picture/input_conversion.h"
#include "picture/output_conversion.h"
#include "picture/prefilter.h"

namespace rq43 {

const dsp::PictureKernels& PictureKernelsFor(dsp::CpuLevel level) {
    static constexpr dsp::PictureKernels c{PackUyvyRow,        PackYuy2Row,     ConvertYuvRowToRgb,
                                           ConvertRgbRowToYuv, DeinterleaveRow, DecimateColumns,
                                           DecimatePairs,      PrefilterRow};
#ifdef RQ43_X86_KERNELS
    static constexpr dsp::PictureKernels sse2{
        dsp::PackUyvyRowSse2,     dsp::PackYuy2RowSse2,     dsp::YuvToRgbRowSse2, ConvertRgbRowToYuv,
        dsp::DeinterleaveRowSse2, dsp::DecimateColumnsSse2, DecimatePairs,        PrefilterRow};
    // RGB output keeps the SSE2 row: gathering its five tables ran no faster than SSE2's single lookups.
    static constexpr dsp::PictureKernels avx2{
        dsp::PackUyvyRowAvx2,     dsp::PackYuy2RowAvx2,     dsp::YuvToRgbRowSse2,   dsp::RgbToYuvRowAvx2,
        dsp::DeinterleaveRowAvx2, dsp::DecimateColumnsAvx2, dsp::DecimatePairsAvx2, dsp::PrefilterRowAvx2};
    if (level >= dsp::CpuLevel::Avx2) return avx2;
    if (level >= dsp::CpuLevel::Sse2) return sse2;
#else
    (void)level;
#endif
    return c;
}

const dsp::PictureKernels& ActivePictureKernels() {
    static const dsp::PictureKernels& kernels = PictureKernelsFor(dsp::ActiveCpuLevel());
    return kernels;
}

}  // namespace rq43
