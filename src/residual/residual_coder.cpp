#include "residual/residual_coder.h"

#include <cstddef>

namespace rq43 {

namespace {

void ResetStream(TokenStream& stream) {
    ReleaseTokenStream(stream);
    stream.arithmetic = 1;
    stream.writer = BitWriter{};
    stream.reader = BitReader{};
}

}  // namespace

void InitResidualCoder(ResidualCoder& coder) {
    ReleaseResidualCoder(coder);
    coder.source = nullptr;
    coder.residualPlanes = nullptr;
    coder.reference = nullptr;
    coder.quality = 0;
    coder.useTwoThreads = 0;
    coder.arithmeticTokens = 1;
    ResetStream(coder.lumaStream);
    ResetStream(coder.chromaStream);
}

bool SetupResidualCoder(int32_t width, ResidualCoder& coder, int32_t border, int32_t height) {
    if (width == coder.width && height == coder.height && border == coder.border && width > 0) return true;
    ReleaseResidualCoder(coder);
    if (width <= 0 || height <= 0 || width % 16 != 0 || height % 16 != 0 || border < 0 ||
        width > INT32_MAX - 2 * border) {
        return false;
    }
    coder.width = width;
    coder.height = height;
    coder.border = border;
    coder.stride = width + 2 * border;
    coder.blocksAcross = width / 8;
    coder.blocksDown = height / 8;
    coder.chromaBlocksAcross = width / 16;
    coder.chromaBlocksDown = height / 16;
    const size_t lumaBlocks = static_cast<size_t>(coder.blocksAcross) * static_cast<size_t>(coder.blocksDown);
    const size_t chromaBlocks =
        static_cast<size_t>(coder.chromaBlocksAcross) * static_cast<size_t>(coder.chromaBlocksDown);
    coder.yCoefficients.resize(lumaBlocks * kCoefficientsPerBlock);
    coder.uCoefficients.resize(chromaBlocks * kCoefficientsPerBlock);
    coder.vCoefficients.resize(chromaBlocks * kCoefficientsPerBlock);
    coder.yFlags.resize(lumaBlocks);
    coder.uFlags.resize(chromaBlocks);
    coder.vFlags.resize(chromaBlocks);
    coder.predictionScratch.resize(2 * static_cast<size_t>(coder.blocksAcross));
    return true;
}

void ReleaseResidualCoder(ResidualCoder& coder) {
    for (std::vector<int16_t>* buffer :
         {&coder.yCoefficients, &coder.uCoefficients, &coder.vCoefficients, &coder.predictionScratch}) {
        std::vector<int16_t>().swap(*buffer);
    }
    for (std::vector<uint8_t>* buffer : {&coder.yFlags, &coder.uFlags, &coder.vFlags, &coder.lastIndex}) {
        std::vector<uint8_t>().swap(*buffer);
    }
    ReleaseTokenStream(coder.lumaStream);
    ReleaseTokenStream(coder.chromaStream);
    coder.width = 0;
    coder.height = 0;
    coder.stride = 0;
    coder.border = 0;
    coder.blocksAcross = 0;
    coder.blocksDown = 0;
    coder.chromaBlocksAcross = 0;
    coder.chromaBlocksDown = 0;
}

}  // namespace rq43
