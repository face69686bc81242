#include "residual/residual_coder.h"

#include <climits>
#include <cstddef>
#include <utility>

namespace rq43 {

namespace {

void ResetStream(TokenStream& stream) {
    ReleaseTokenStream(stream);
    stream.arithmetic = 1;
    stream.writer = BitWriter{};
    stream.reader = WordReader{};
}

}  // namespace

void InitResidualCoder(ResidualCoder& coder) {
    ReleaseResidualCoder(coder);
    coder.source = nullptr;
    coder.residualPlanes = nullptr;
    coder.reference = nullptr;
    coder.quality = 0;
    coder.workers = nullptr;
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
    coder.yFlags.resize(lumaBlocks);
    coder.uFlags.resize(chromaBlocks);
    coder.vFlags.resize(chromaBlocks);
    coder.intraLumaLevels.resize(lumaBlocks * 64);
    coder.intraLumaQuality.reset();
    coder.levels.resize((lumaBlocks + 4 * chromaBlocks) * 64);
    coder.previousLevels.resize(coder.levels.size());
    coder.predictionLanes.resize((lumaBlocks + 2 * chromaBlocks) * 8);
    coder.previousLanes.resize(coder.predictionLanes.size());
    return true;
}

namespace {

bool SetupFor(ResidualCoder& coder, const YuvFrame& source) {
    return source.y != nullptr && source.width <= INT32_MAX && source.height <= INT32_MAX &&
           source.border <= INT32_MAX &&
           SetupResidualCoder(static_cast<int32_t>(source.width), coder, static_cast<int32_t>(source.border),
                              static_cast<int32_t>(source.height));
}

// What a load leaves besides the coefficients: the borrowed frames, no coded sections, the intra flags.
void Borrow(ResidualCoder& coder, const YuvFrame& source, const DifferenceFrame* difference,
            const YuvFrame* reference) {
    coder.source = &source;
    coder.residualPlanes = difference;
    coder.reference = reference;
    coder.intraLumaQuality.reset();
    ForgetCodedSections(coder);
    const uint8_t intra = difference == nullptr ? kBlockFlagIntra : 0;
    for (std::vector<uint8_t>* flags : {&coder.yFlags, &coder.uFlags, &coder.vFlags}) {
        for (uint8_t& flag : *flags) flag = static_cast<uint8_t>((flag & ~kBlockFlagIntra) | intra);
    }
}

}  // namespace

bool LoadFrame(ResidualCoder& coder, const YuvFrame& source, const DifferenceFrame* difference,
               const YuvFrame* reference) {
    if (!SetupFor(coder, source) || !TransformFrame(source, difference, coder.coefficients, coder.workers))
        return false;
    Borrow(coder, source, difference, reference);
    return true;
}

bool LoadKeyFrameFrom(ResidualCoder& coder, const ResidualCoder& loaded) {
    if (loaded.source == nullptr || loaded.coefficients.y.empty() || !SetupFor(coder, *loaded.source))
        return false;
    Borrow(coder, *loaded.source, nullptr, nullptr);
    return true;
}

LentTransform::LentTransform(ResidualCoder& owner, ResidualCoder& borrower)
    : owner_(owner), borrower_(borrower) {
    Swap();
}

LentTransform::~LentTransform() {
    Swap();
}

void LentTransform::Swap() {
    std::swap(owner_.coefficients, borrower_.coefficients);
    std::swap(owner_.intraLumaLevels, borrower_.intraLumaLevels);
    std::swap(owner_.intraLumaQuality, borrower_.intraLumaQuality);
}

void ForgetCodedSections(ResidualCoder& coder) {
    coder.codedSection.reset();
    coder.previousSection.reset();
}

void ClearIntraFlags(ResidualCoder& coder) {
    for (std::vector<uint8_t>* flags : {&coder.yFlags, &coder.uFlags, &coder.vFlags}) {
        for (uint8_t& flag : *flags) flag &= static_cast<uint8_t>(~kBlockFlagIntra);
    }
}

void ReleaseResidualCoder(ResidualCoder& coder) {
    for (std::vector<int16_t>* buffer : {&coder.intraLumaLevels, &coder.levels, &coder.previousLevels,
                                         &coder.predictionLanes, &coder.previousLanes}) {
        std::vector<int16_t>().swap(*buffer);
    }
    for (std::vector<uint8_t>* buffer : {&coder.yFlags, &coder.uFlags, &coder.vFlags, &coder.lastIndex,
                                         &coder.lumaRoom, &coder.chromaRoom}) {
        std::vector<uint8_t>().swap(*buffer);
    }
    coder.coefficients = FrameCoefficients{};
    for (TokenStream* stream : {&coder.lumaStream, &coder.chromaStream}) {
        ReleaseTokenStream(*stream);
        decltype(stream->tokens)().swap(stream->tokens);
        decltype(stream->extraBits)().swap(stream->extraBits);
    }
    coder.intraLumaQuality.reset();
    ForgetCodedSections(coder);
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
