// The state through which one frame's transform coefficients pass into a token section and out of it.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/difference_frame.h"
#include "picture/yuv_frame.h"
#include "residual/token_stream.h"
#include "transform/quantiser.h"

namespace rq43 {

// Per block: 64 intra-transform coefficients, then 64 inter-transform coefficients.
constexpr int32_t kCoefficientsPerBlock = 128;
constexpr uint8_t kBlockFlagIntra = 1;

struct ResidualCoder {
    const YuvFrame* source = nullptr;                 // borrowed for one frame
    const DifferenceFrame* residualPlanes = nullptr;  // inter frames only
    const YuvFrame* reference = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;  // width + 2 * border
    int32_t border = 0;
    int32_t quality = 0;
    uint8_t useTwoThreads = 0;
    uint8_t arithmeticTokens = 1;
    int32_t blocksAcross = 0;
    int32_t blocksDown = 0;
    int32_t chromaBlocksAcross = 0;
    int32_t chromaBlocksDown = 0;
    std::vector<int16_t> yCoefficients;  // kCoefficientsPerBlock per block, raster order
    std::vector<int16_t> uCoefficients;
    std::vector<int16_t> vCoefficients;
    std::vector<uint8_t> yFlags;  // one blockFlags byte per block
    std::vector<uint8_t> uFlags;
    std::vector<uint8_t> vFlags;
    std::vector<int16_t> predictionScratch;  // two rows of blocksAcross values
    std::vector<uint8_t> lastIndex;          // decoder: one byte per block of a block row
    TokenStream lumaStream;
    TokenStream chromaStream;
    QuantiserTables quantiserTables{};  // this coder's own: rebuilt for each section it codes
};

void InitResidualCoder(ResidualCoder& coder);

// Sizes the buffers for a picture (width and height positive multiples of 16); keeps every buffer and its
// contents when width, height and border are unchanged. Returns false (coder released) for a geometry that
// is not a positive multiple of 16. Throws std::bad_alloc on allocation failure.
bool SetupResidualCoder(int32_t width, ResidualCoder& coder, int32_t border, int32_t height);

// Frees the buffers and the decoded token strings and zeroes the geometry; the code tables stay.
void ReleaseResidualCoder(ResidualCoder& coder);

}  // namespace rq43
