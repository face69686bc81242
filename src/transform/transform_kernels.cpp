#include "transform/transform_kernels.h"

#include "transform/forward_dct.h"
#include "transform/inverse_dct.h"
#include "transform/quantiser.h"
#include "transform/reconstruction.h"

namespace rq43 {
namespace {

constexpr dsp::TransformKernels kPlain = {ForwardDctOfPixels,
                                          ForwardDctOfDifferences,
                                          QuantiseBlock,
                                          DequantiseBlock,
                                          InverseDct,
                                          IdctPut,
                                          AddBlock,
                                          ReconstructIntraBlock,
                                          ReconstructInterBlock,
                                          ReconstructIntraBlock,
                                          ReconstructInterBlock,
                                          FillIntraDc,
                                          AddInterDc};

#ifdef RQ43_X86_KERNELS
constexpr dsp::TransformKernels kSse2 = {dsp::ForwardDctOfPixelsSse2,
                                         dsp::ForwardDctOfDifferencesSse2,
                                         dsp::QuantiseBlockSse2,
                                         dsp::DequantiseBlockSse2,
                                         dsp::InverseDctSse2,
                                         dsp::IdctPutSse2,
                                         dsp::AddBlockSse2,
                                         dsp::ReconstructIntraBlockSse2,
                                         dsp::ReconstructInterBlockSse2,
                                         dsp::ReconstructIntraTopLeftSse2,
                                         dsp::ReconstructInterTopLeftSse2,
                                         dsp::FillIntraDcSse2,
                                         dsp::AddInterDcSse2};

// The 8x8 blocks fill 128-bit registers exactly: the AVX2 level gains by the shorter encoding and the byte
// shuffles, not by wider registers. The byte-sized kernels stay as they are.
constexpr dsp::TransformKernels kAvx2 = {dsp::ForwardDctOfPixelsAvx2,
                                         dsp::ForwardDctOfDifferencesAvx2,
                                         dsp::QuantiseBlockAvx2,
                                         dsp::DequantiseBlockAvx2,
                                         dsp::InverseDctAvx2,
                                         dsp::IdctPutAvx2,
                                         dsp::AddBlockSse2,
                                         dsp::ReconstructIntraBlockAvx2,
                                         dsp::ReconstructInterBlockAvx2,
                                         dsp::ReconstructIntraTopLeftAvx2,
                                         dsp::ReconstructInterTopLeftAvx2,
                                         dsp::FillIntraDcSse2,
                                         dsp::AddInterDcSse2};

// The reorders gain from the word permutations, and the reconstructions from the transposed block they
// give the inverse transform.
constexpr dsp::TransformKernels kAvx512 = {dsp::ForwardDctOfPixelsAvx512,
                                           dsp::ForwardDctOfDifferencesAvx512,
                                           dsp::QuantiseBlockAvx512,
                                           dsp::DequantiseBlockAvx512,
                                           dsp::InverseDctAvx2,
                                           dsp::IdctPutAvx2,
                                           dsp::AddBlockSse2,
                                           dsp::ReconstructIntraBlockAvx512,
                                           dsp::ReconstructInterBlockAvx512,
                                           dsp::ReconstructIntraTopLeftAvx2,
                                           dsp::ReconstructInterTopLeftAvx2,
                                           dsp::FillIntraDcSse2,
                                           dsp::AddInterDcSse2};
#endif

}  // namespace

const dsp::TransformKernels& TransformKernelsFor(dsp::CpuLevel level) {
#ifdef RQ43_X86_KERNELS
    if (level >= dsp::CpuLevel::Avx512) return kAvx512;
    if (level >= dsp::CpuLevel::Avx2) return kAvx2;
    if (level >= dsp::CpuLevel::Sse2) return kSse2;
#endif
    static_cast<void>(level);
    return kPlain;
}

const dsp::TransformKernels& ActiveTransformKernels() {
    static const dsp::TransformKernels& active = TransformKernelsFor(dsp::ActiveCpuLevel());
    return active;
}

}  // namespace rq43
