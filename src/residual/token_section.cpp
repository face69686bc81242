#include "residual/token_section.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "bitstream/flag_map.h"
#include "bitstream/little_endian.h"
#include "picture/yuv_frame.h"
#include "platform/worker_split.h"
#include "residual/block_decisions.h"
#include "residual/coefficient_prediction.h"
#include "residual/residual_coder.h"
#include "transform/quantiser.h"
#include "transform/reconstruction.h"
#include "transform/transform_kernels.h"

namespace rq43 {
namespace {

constexpr size_t kBlockMapOffset = kTokenSectionHeaderSize;

// Appends the intra map of the luma blocks; returns its size.
size_t AppendBlockMap(const ResidualCoder& coder, std::vector<uint8_t>& section) {
    std::vector<uint8_t> intra(coder.yFlags.size());
    std::transform(coder.yFlags.begin(), coder.yFlags.end(), intra.begin(), [](uint8_t flags) {
        return static_cast<uint8_t>((flags & kBlockFlagIntra) != 0 ? 1 : 0);
    });
    return AppendFlagMap(intra.data(), intra.size(), static_cast<uint32_t>(coder.blocksAcross), section);
}

// Tokenises one stream's levels and builds its tables.
void TokeniseStream(TokenStream& stream, uint8_t arithmetic, const int16_t* levels, size_t levelCount) {
    TokeniseLevels(stream, levels, levelCount);
    stream.arithmetic = arithmetic;
    BuildTokenTables(stream);
}

// Codes one tokenised stream in `room` (kept across sections: only the bytes coded are read, so it is
// never cleared) and gives its size; false when the levels cannot be represented (counts beyond the
// stream header's fields).
bool CodeTokenStream(TokenStream& stream, size_t levelCount, std::vector<uint8_t>& room, size_t* size) {
    // 3 bytes per level is what the format budgets (192 per block); a stream never needs more than a code
    // of at most 32 bits plus 24 extra bits per token, plus its tables.
    size_t capacity = 3 * levelCount + 1024;
    const size_t largest = 8 * levelCount + 65536;
    if (room.size() < capacity) room.resize(capacity);
    bool written = WriteTabledTokenStream(stream, room.data(), room.data() + capacity);
    while (!(written && FinishTokenStream(stream, size))) {
        if (capacity >= largest) return false;
        capacity = std::min(2 * capacity, largest);
        if (room.size() < capacity) room.resize(capacity);
        written = WriteTabledTokenStream(stream, room.data(), room.data() + capacity);
    }
    return true;
}

// Chroma levels travel with U and V interleaved by block rows: U row r, then V row r.
void InterleaveChroma(const ResidualCoder& coder, const int16_t* u, const int16_t* v, int16_t* out) {
    const size_t rowLevels = static_cast<size_t>(coder.chromaBlocksAcross) * 64;
    for (int32_t row = 0; row < coder.chromaBlocksDown; ++row) {
        std::memcpy(out, u + row * rowLevels, rowLevels * sizeof(int16_t));
        std::memcpy(out + rowLevels, v + row * rowLevels, rowLevels * sizeof(int16_t));
        out += 2 * rowLevels;
    }
}

void UndoRowPrediction(int16_t* current, const int16_t* previous, int32_t count, uint16_t modes,
                       bool firstRow) {
    for (int i = 0; i < kPredictedPositionCount; ++i) {
        const auto mode = static_cast<uint8_t>((modes >> (2 * i)) & 3);
        if (mode == kPredictNone) continue;
        const int position = kPredictedPositions[i];
        if (firstRow)
            UndoFirstRowPrediction(count, current + position);
        else
            PredictCoefficientRow(count, previous + position, current + position, mode);
    }
}

// The zigzag positions a plane's modes predict, as bits; position 0 is left out, since it raises no
// last index.
uint32_t PredictedPositionBits(uint16_t modes) {
    uint32_t bits = 0;
    for (int i = 1; i < kPredictedPositionCount; ++i)
        if (((modes >> (2 * i)) & 3) != kPredictNone) bits |= 1u << kPredictedPositions[i];
    return bits;
}
static_assert(kPredictedPositions[kPredictedPositionCount - 1] < 16);

// Prediction can make the low positions non-zero after the tokens said the block ended earlier; only the
// positions the section predicts (`predicted`, from PredictedPositionBits) can change.
// Without a branch on the levels: whether they are zero is what a predictor cannot guess (bit 0, never
// predicted, stands in for none).
// `nonZero` has bit i set where level i is not zero; only the predicted bits are read.
uint8_t RaiseLastIndex(uint8_t lastIndex, uint32_t nonZero, uint32_t predicted) {
    const uint32_t raised = (nonZero & predicted) | 1u;
    return std::max(lastIndex, static_cast<uint8_t>(31 - std::countl_zero(raised)));
}
uint8_t RaiseLastIndex(uint8_t lastIndex, const int16_t* levels, uint32_t predicted) {
    return RaiseLastIndex(lastIndex, NonZeroLevels16(levels), predicted);
}

struct Geometry {
    int32_t across, down, chromaAcross, chromaDown, stride;
};

// The frame is ours, but a mismatch between its fields and its buffer must not turn into stray writes.
bool FrameGeometry(const YuvFrame& frame, Geometry* geometry) {
    if (frame.y == nullptr || frame.u == nullptr || frame.v == nullptr || frame.buffer == nullptr)
        return false;
    if (frame.width == 0 || frame.height == 0 || frame.width % 16 != 0 || frame.height % 16 != 0)
        return false;
    if (frame.stride < 0 || static_cast<uint64_t>(frame.stride) < frame.width) return false;
    const uint8_t* bufferEnd = frame.buffer + frame.bufferSize;
    auto inside = [&](const uint8_t* plane, uint64_t rows, uint64_t columns) {
        if (plane < frame.buffer || plane > bufferEnd) return false;
        const uint64_t reach = (rows - 1) * static_cast<uint64_t>(frame.stride) + columns;
        return reach <= static_cast<uint64_t>(bufferEnd - plane);
    };
    if (!inside(frame.y, frame.height, frame.width) || !inside(frame.u, frame.height / 2, frame.width / 2) ||
        !inside(frame.v, frame.height / 2, frame.width / 2)) {
        return false;
    }
    *geometry = {static_cast<int32_t>(frame.width / 8), static_cast<int32_t>(frame.height / 8),
                 static_cast<int32_t>(frame.width / 16), static_cast<int32_t>(frame.height / 16),
                 frame.stride};
    return true;
}

struct StreamRelease {
    ResidualCoder& coder;
    ~StreamRelease() {
        ReleaseTokenStream(coder.lumaStream);
        ReleaseTokenStream(coder.chromaStream);
    }
};

// The inverse transform of a block's levels, over four rows when they end inside the top-left 4x4 (the
// same result). `lastIndex` is at or beyond the zigzag position of the last non-zero level.
void ReconstructTransformed(const dsp::TransformKernels& kernels, const int16_t* steps, bool intra,
                            uint8_t lastIndex, const int16_t* levels, uint8_t* destination, int32_t stride) {
    const bool topLeft = lastIndex <= kTopLeftLastIndex;
    if (intra)
        (topLeft ? kernels.reconstructIntraTopLeft : kernels.reconstructIntra)(steps, levels, destination,
                                                                               stride);
    else
        (topLeft ? kernels.reconstructInterTopLeft : kernels.reconstructInter)(steps, levels, destination,
                                                                               stride);
}

// Luma blocks whose only level is the DC take the format's shortcuts; chroma blocks never do.
void ReconstructLumaBlock(const dsp::TransformKernels& kernels, const int16_t* steps, bool intra,
                          uint8_t lastIndex, const int16_t* levels, uint8_t* destination, int32_t stride) {
    if (lastIndex == 0) {
        if (intra)
            kernels.fillIntraDc(destination, stride, IntraDcValue(steps[0], levels[0]));
        else if (levels[0] != 0)
            kernels.addInterDc(destination, stride, steps[0], levels[0]);
    } else if (intra || lastIndex <= kTopLeftLastIndex || !AddsNothing(levels)) {
        ReconstructTransformed(kernels, steps, intra, lastIndex, levels, destination, stride);
    }
}

// An inter chroma block of zero levels adds nothing.
void ReconstructChromaBlock(const dsp::TransformKernels& kernels, const int16_t* steps, bool intra,
                            uint8_t lastIndex, const int16_t* levels, uint8_t* destination, int32_t stride) {
    if (intra || lastIndex != 0 || levels[0] != 0)
        ReconstructTransformed(kernels, steps, intra, lastIndex, levels, destination, stride);
}

// The two block-row buffers: row r in buffer r mod 2, the row above it in the other.
struct RowPair {
    int16_t* current;
    const int16_t* previous;
};

RowPair RowsFor(std::vector<int16_t>& rows, int32_t row, size_t rowLevels) {
    return {rows.data() + static_cast<size_t>(row % 2) * rowLevels,
            rows.data() + static_cast<size_t>((row + 1) % 2) * rowLevels};
}

// The last indices of the blocks in row r's buffer, block for block (a chroma row's U and V blocks lie
// where a luma row's blocks do).
uint8_t* LastIndicesFor(ResidualCoder& coder, int32_t row, size_t blocks) {
    return coder.lastIndex.data() + static_cast<size_t>(row % 2) * blocks;
}

struct SectionLayout {
    Geometry geometry;
    uint16_t lumaModes = 0, uModes = 0, vModes = 0;
    bool key = false;
    std::vector<uint8_t> intra;  // decoded intra flags of the luma blocks (delta frames)
};

// Where a section's block rows come from: its token streams. Gives per block the zigzag position of its
// last non-zero level, 0 when none.
//
// A row buffer comes in holding the blocks of two rows before, whose last indices (raised by the
// prediction) are still in `lastIndex`: the decoder clears only up to them.
struct StreamRows {
    ResidualCoder& coder;
    static void Clear(int16_t* out, uint32_t blocks, const uint8_t* lastIndex) {
        for (uint32_t block = 0; block < blocks; ++block) {
            int16_t* levels = out + size_t{64} * block;
            if (lastIndex[block] < 16)
                std::memset(levels, 0, 16 * sizeof(int16_t));
            else
                std::memset(levels, 0, 64 * sizeof(int16_t));
        }
    }
    bool Luma(int32_t, int16_t* out, uint32_t blocks, uint8_t* lastIndex) {
        Clear(out, blocks, lastIndex);
        return DecodeBlockRow(coder.lumaStream, out, blocks, lastIndex);
    }
    bool Chroma(int32_t, int16_t* out, uint32_t blocks, uint8_t* lastIndex) {
        Clear(out, blocks, lastIndex);
        return DecodeBlockRow(coder.chromaStream, out, blocks, lastIndex);
    }
};

template <typename Rows>
bool ReconstructLumaRows(ResidualCoder& coder, const SectionLayout& layout, std::vector<int16_t>& rows,
                         Rows& source, YuvFrame& frame) {
    const Geometry& g = layout.geometry;
    const QuantiserTables& tables = coder.quantiserTables;
    const size_t rowLevels = static_cast<size_t>(g.across) * 64;
    const uint32_t predicted = PredictedPositionBits(layout.lumaModes);
    const dsp::TransformKernels& kernels = ActiveTransformKernels();
    for (int32_t row = 0; row < g.down; ++row) {
        const auto [current, previous] = RowsFor(rows, row, rowLevels);
        uint8_t* lastIndex = LastIndicesFor(coder, row, static_cast<size_t>(g.across));
        if (!source.Luma(row, current, static_cast<uint32_t>(g.across), lastIndex)) return false;
        UndoRowPrediction(current, previous, g.across, layout.lumaModes, row == 0);
        uint8_t* pixels = frame.y + ptrdiff_t{8} * row * g.stride;
        for (int32_t column = 0; column < g.across; ++column) {
            const int16_t* levels = current + column * 64;
            const size_t block =
                static_cast<size_t>(row) * static_cast<size_t>(g.across) + static_cast<size_t>(column);
            const bool intra = layout.key || layout.intra[block] != 0;
            lastIndex[column] = RaiseLastIndex(lastIndex[column], levels, predicted);
            ReconstructLumaBlock(kernels, tables.quantiserTable[intra ? kIntraLumaTable : kInterLumaTable],
                                 intra, lastIndex[column], levels, pixels + 8 * column, g.stride);
        }
    }
    return true;
}

// Chroma rows hold the U blocks of a block row, then its V blocks.
template <typename Rows>
bool ReconstructChromaRows(ResidualCoder& coder, const SectionLayout& layout, std::vector<int16_t>& rows,
                           Rows& source, YuvFrame& frame) {
    const Geometry& g = layout.geometry;
    const int16_t* steps =
        coder.quantiserTables.quantiserTable[layout.key ? kIntraChromaTable : kInterChromaTable];
    const size_t planeLevels = static_cast<size_t>(g.chromaAcross) * 64;
    const uint32_t uPredicted = PredictedPositionBits(layout.uModes);
    const uint32_t vPredicted = PredictedPositionBits(layout.vModes);
    const dsp::TransformKernels& kernels = ActiveTransformKernels();
    for (int32_t row = 0; row < g.chromaDown; ++row) {
        const auto [current, previous] = RowsFor(rows, row, 2 * planeLevels);
        const auto blocks = static_cast<uint32_t>(2 * g.chromaAcross);
        uint8_t* lastIndex = LastIndicesFor(coder, row, blocks);
        if (!source.Chroma(row, current, blocks, lastIndex)) return false;
        UndoRowPrediction(current, previous, g.chromaAcross, layout.uModes, row == 0);
        UndoRowPrediction(current + planeLevels, previous + planeLevels, g.chromaAcross, layout.vModes,
                          row == 0);
        const ptrdiff_t offset = ptrdiff_t{8} * row * g.stride;
        for (int32_t column = 0; column < g.chromaAcross; ++column) {
            const int16_t* uLevels = current + column * 64;
            const int16_t* vLevels = uLevels + planeLevels;
            uint8_t& uLast = lastIndex[column];
            uint8_t& vLast = lastIndex[g.chromaAcross + column];
            uLast = RaiseLastIndex(uLast, uLevels, uPredicted);
            vLast = RaiseLastIndex(vLast, vLevels, vPredicted);
            ReconstructChromaBlock(kernels, steps, layout.key, uLast, uLevels, frame.u + offset + 8 * column,
                                   g.stride);
            ReconstructChromaBlock(kernels, steps, layout.key, vLast, vLevels, frame.v + offset + 8 * column,
                                   g.stride);
        }
    }
    return true;
}

template <typename Rows>
bool ReconstructRows(ResidualCoder& coder, const SectionLayout& layout, Rows& source, YuvFrame& frame) {
    const Geometry& g = layout.geometry;
    // Two block rows of levels (the row and the one above it), wide enough for a luma row or a chroma row
    // of U and V blocks.
    std::vector<int16_t> rows(2 * static_cast<size_t>(g.across) * 64);
    coder.lastIndex.assign(2 * static_cast<size_t>(g.across), 0);
    return ReconstructLumaRows(coder, layout, rows, source, frame) &&
           ReconstructChromaRows(coder, layout, rows, source, frame);
}

// Reads the header, the frame's geometry and the intra map; the token streams follow at *streams.
bool ReadLayout(const uint8_t* section, size_t length, const YuvFrame& frame, TokenSectionHeader* header,
                SectionLayout* layout) {
    if (section == nullptr || length < kTokenSectionHeaderSize) return false;
    if (!FrameGeometry(frame, &layout->geometry)) return false;
    *header = ReadTokenSectionHeader(section);
    const uint64_t mapSize = header->blockMapSize;
    if (kTokenSectionHeaderSize + mapSize + uint64_t{header->lumaStreamSize} + header->chromaStreamSize >
        length)
        return false;
    layout->lumaModes = header->lumaModes;
    layout->uModes = header->uModes;
    layout->vModes = header->vModes;
    layout->key = header->key != 0;

    const Geometry& g = layout->geometry;
    const auto lumaBlocks = static_cast<size_t>(g.across) * static_cast<size_t>(g.down);
    layout->intra.assign(layout->key ? 0 : lumaBlocks, 0);
    const uint8_t* map = section + kBlockMapOffset;
    return layout->key || mapSize == 0 ||
           ReadFlagMap(map, map + mapSize, static_cast<uint32_t>(g.across), layout->intra.data(), lumaBlocks);
}

}  // namespace

void WriteTokenSectionHeader(const TokenSectionHeader& header, uint8_t* out) {
    PutLittleEndian(out + 0, header.blockMapSize, 4);
    PutLittleEndian(out + 4, header.lumaStreamSize, 4);
    PutLittleEndian(out + 8, header.chromaStreamSize, 4);
    PutLittleEndian(out + 12, 0, 4);
    PutLittleEndian(out + 16, header.lumaModes, 2);
    PutLittleEndian(out + 18, header.uModes, 2);
    PutLittleEndian(out + 20, header.vModes, 2);
    out[TokenSectionHeader::kQualityOffset] = header.quality;
    out[23] = header.key;
}

TokenSectionHeader ReadTokenSectionHeader(const uint8_t* in) {
    TokenSectionHeader header;
    header.blockMapSize = GetLittleEndian(in + 0, 4);
    header.lumaStreamSize = GetLittleEndian(in + 4, 4);
    header.chromaStreamSize = GetLittleEndian(in + 8, 4);
    header.lumaModes = static_cast<uint16_t>(GetLittleEndian(in + 16, 2));
    header.uModes = static_cast<uint16_t>(GetLittleEndian(in + 18, 2));
    header.vModes = static_cast<uint16_t>(GetLittleEndian(in + 20, 2));
    header.quality = in[TokenSectionHeader::kQualityOffset];
    header.key = in[23];
    return header;
}

PreparedSection PrepareTokenSection(ResidualCoder& coder, uint8_t keyFrame) {
    PreparedSection prepared;
    prepared.key = keyFrame != 0;
    const bool key = prepared.key;
    if (coder.codedSection) {
        std::swap(coder.levels, coder.previousLevels);
        std::swap(coder.predictionLanes, coder.previousLanes);
        coder.previousSection = coder.codedSection;
        coder.codedSection.reset();
    }
    if (coder.blocksAcross <= 0 || coder.source == nullptr || (!key && coder.residualPlanes == nullptr))
        return prepared;
    const size_t lumaLevels = coder.yFlags.size() * 64;
    // Every slot is written below before anything reads it.
    int16_t* luma = coder.levels.data();
    int16_t* u = luma + lumaLevels;

    BuildQuantiserTables(coder.quality, coder.quantiserTables);
    // Units: macroblock rows (two luma block rows, a U and a V one), in bands as the transform ran, so
    // that a worker mostly reads coefficients it has just written.
    int32_t intraCount[2] = {0, 0};
    platform::RunBands(coder.workers, static_cast<uint32_t>(coder.chromaBlocksDown),
                       [&](uint32_t unit, int worker) {
                           const auto row = static_cast<int32_t>(unit);
                           if (key)
                               QuantiseKeyLumaRows(coder, luma, 2 * row, 2 * row + 2);
                           else
                               intraCount[worker] += DecideLumaRows(coder, luma, 2 * row, 2 * row + 2);
                           for (int plane = 0; plane < 2; ++plane) {
                               if (key)
                                   QuantiseKeyChromaRow(coder, plane, row, u);
                               else
                                   DecideChromaRow(coder, plane, row, u);
                           }
                       });
    coder.intraLumaQuality = coder.quality;  // either kind of section leaves the intra luma levels
    prepared.intraBlocks = intraCount[0] + intraCount[1];
    prepared.ready = true;
    return prepared;
}

SectionWriter::SectionWriter(ResidualCoder& coder, const PreparedSection& prepared,
                             std::vector<uint8_t>& section)
    : coder_(coder), prepared_(prepared), section_(section) {
    section_.clear();
}

void SectionWriter::TokeniseLuma() {
    if (!prepared_.ready) return;
    const size_t lumaLevels = coder_.yFlags.size() * 64;
    int16_t* luma = coder_.levels.data();
    section_.assign(kTokenSectionHeaderSize, 0);
    if (!prepared_.key && prepared_.intraBlocks > 0) mapSize_ = AppendBlockMap(coder_, section_);
    lumaModes_ =
        ChoosePredictionModes(luma, coder_.blocksAcross, coder_.blocksDown, coder_.predictionLanes.data());
    TokeniseStream(coder_.lumaStream, coder_.arithmeticTokens, luma, lumaLevels);
    luma_ = Stream::Tokenised;
}

void SectionWriter::TokeniseChroma() {
    if (!prepared_.ready) return;
    const size_t chromaLevels = coder_.uFlags.size() * 64;
    int16_t* u = coder_.levels.data() + coder_.yFlags.size() * 64;
    int16_t* v = u + chromaLevels;
    int16_t* lanes = coder_.predictionLanes.data() + coder_.yFlags.size() * kPredictedPositionCount;
    const size_t chromaLanes = coder_.uFlags.size() * kPredictedPositionCount;
    uModes_ = ChoosePredictionModes(u, coder_.chromaBlocksAcross, coder_.chromaBlocksDown, lanes);
    vModes_ =
        ChoosePredictionModes(v, coder_.chromaBlocksAcross, coder_.chromaBlocksDown, lanes + chromaLanes);
    // The chroma levels are interleaved behind V, so every plane's coded levels stay for the reconstruction.
    int16_t* interleaved = v + chromaLevels;
    InterleaveChroma(coder_, u, v, interleaved);
    TokeniseStream(coder_.chromaStream, coder_.arithmeticTokens, interleaved, 2 * chromaLevels);
    chroma_ = Stream::Tokenised;
}

// A tokenised stream's least size costs a pass over its tokens, so it is worked out only when asked.
size_t SectionWriter::LumaLeastSize() {
    if (luma_ == Stream::Coded) return lumaSize_;
    if (luma_ != Stream::Tokenised) return 0;
    if (lumaLeast_ == SIZE_MAX) lumaLeast_ = TokenStreamSizeAtLeast(coder_.lumaStream);
    return lumaLeast_;
}

size_t SectionWriter::ChromaLeastSize() {
    if (chroma_ == Stream::Coded) return chromaSize_;
    if (chroma_ != Stream::Tokenised) return 0;
    if (chromaLeast_ == SIZE_MAX) chromaLeast_ = TokenStreamSizeAtLeast(coder_.chromaStream);
    return chromaLeast_;
}

size_t SectionWriter::LeastSize() {
    return kTokenSectionHeaderSize + mapSize_ + LumaLeastSize() + ChromaLeastSize();
}

void SectionWriter::CodeLuma() {
    if (luma_ != Stream::Tokenised || givenUp_) return;
    luma_ = CodeTokenStream(coder_.lumaStream, coder_.yFlags.size() * 64, coder_.lumaRoom, &lumaSize_)
                ? Stream::Coded
                : Stream::Failed;
}

void SectionWriter::CodeChroma() {
    if (chroma_ != Stream::Tokenised || givenUp_) return;
    chroma_ =
        CodeTokenStream(coder_.chromaStream, 2 * coder_.uFlags.size() * 64, coder_.chromaRoom, &chromaSize_)
            ? Stream::Coded
            : Stream::Failed;
}

bool SectionWriter::Finish() {
    if (!prepared_.ready) return false;
    // A luma stream that failed fails the section; a chroma one, unless the section was given up first.
    const bool failed = luma_ == Stream::Failed || (!givenUp_ && chroma_ == Stream::Failed);
    if (givenUp_ || failed || luma_ != Stream::Coded || chroma_ != Stream::Coded ||
        section_.size() + lumaSize_ + chromaSize_ > UINT32_MAX) {
        section_.clear();
        return givenUp_ && !failed;
    }
    section_.reserve(section_.size() + lumaSize_ + chromaSize_);  // one copy of the streams, not two
    section_.insert(section_.end(), coder_.lumaRoom.begin(),
                    coder_.lumaRoom.begin() + static_cast<ptrdiff_t>(lumaSize_));
    section_.insert(section_.end(), coder_.chromaRoom.begin(),
                    coder_.chromaRoom.begin() + static_cast<ptrdiff_t>(chromaSize_));
    TokenSectionHeader header;
    header.blockMapSize = static_cast<uint32_t>(mapSize_);
    header.lumaStreamSize = static_cast<uint32_t>(lumaSize_);
    header.chromaStreamSize = static_cast<uint32_t>(chromaSize_);
    header.lumaModes = lumaModes_;
    header.uModes = uModes_;
    header.vModes = vModes_;
    // The decoder scales its tables by this byte: a quality outside it is stored as the byte that gives the
    // same tables (0 for 0 and below, 255 for anything above 100), not as its low byte.
    header.quality = static_cast<uint8_t>(std::clamp<int32_t>(coder_.quality, 0, 255));
    header.key = prepared_.key ? 1 : 0;
    WriteTokenSectionHeader(header, section_.data());
    coder_.codedSection.emplace();
    coder_.codedSection->size = section_.size();
    std::memcpy(coder_.codedSection->header, section_.data(), kTokenSectionHeaderSize);
    return true;
}

// Both streams are tokenised before either is coded: with a size limit, their least sizes together mostly
// show that the section cannot win, and coding is most of a section's work; the luma stream's alone often
// does (a key section against a delta frame), before the chroma planes are predicted.
void SectionWriter::WriteAll(const std::atomic<size_t>& limit) {
    const auto cannotWin = [&] {
        const size_t sizeLimit = limit.load(std::memory_order_relaxed);
        return sizeLimit != SIZE_MAX && LeastSize() >= sizeLimit;
    };
    TokeniseLuma();
    if (!cannotWin()) TokeniseChroma();
    if (cannotWin()) GiveUp();
    CodeLuma();
    if (cannotWin()) GiveUp();
    CodeChroma();
}

void SectionWriter::WriteStreams(platform::WorkerPair* workers) {
    if (!prepared_.ready || givenUp_) return;
    platform::RunHalves(workers, [&](int half) {
        if (half == 0) {
            if (luma_ == Stream::NotTokenised) TokeniseLuma();
            CodeLuma();
        } else {
            if (chroma_ == Stream::NotTokenised) TokeniseChroma();
            CodeChroma();
        }
    });
}

// Two workers take a stream each.
bool EncodeTokenSection(ResidualCoder& coder, uint8_t keyFrame, std::vector<uint8_t>& section,
                        size_t sizeLimit) {
    const PreparedSection prepared = PrepareTokenSection(coder, keyFrame);
    SectionWriter writer(coder, prepared, section);
    if (coder.workers == nullptr || sizeLimit != SIZE_MAX)
        writer.WriteAll(std::atomic<size_t>{sizeLimit});
    else
        writer.WriteStreams(coder.workers);
    return writer.Finish();
}

bool DecodeTokenSection(const uint8_t* section, size_t length, ResidualCoder& coder, YuvFrame& frame) {
    TokenSectionHeader header;
    SectionLayout layout;
    StreamRelease release{coder};
    if (!ReadLayout(section, length, frame, &header, &layout)) return false;
    const Geometry& g = layout.geometry;
    const auto lumaBlocks = static_cast<size_t>(g.across) * static_cast<size_t>(g.down);
    const uint8_t* lumaStart = section + kBlockMapOffset + header.blockMapSize;
    const uint64_t chromaBlocks =
        2 * uint64_t{static_cast<uint32_t>(g.chromaAcross)} * static_cast<uint32_t>(g.chromaDown);
    if (!OpenTokenStream(coder.lumaStream, lumaStart, header.lumaStreamSize, lumaBlocks) ||
        !OpenTokenStream(coder.chromaStream, lumaStart + header.lumaStreamSize, header.chromaStreamSize,
                         chromaBlocks)) {
        return false;
    }
    BuildQuantiserTables(header.quality, coder.quantiserTables);
    StreamRows rows{coder};
    return ReconstructRows(coder, layout, rows, frame);
}

bool ReconstructCodedSection(const uint8_t* section, size_t length, ResidualCoder& coder, YuvFrame& frame,
                             const std::function<void(uint32_t macroblockRow)>* predictRow) {
    auto holds = [&](const std::optional<CodedSection>& coded) {
        return coded && coded->size == length && length >= kTokenSectionHeaderSize &&
               std::memcmp(section, coded->header, kTokenSectionHeaderSize) == 0;
    };
    const int16_t* luma = nullptr;
    const int16_t* lumaLanes = nullptr;
    if (section == nullptr) return false;
    if (holds(coder.codedSection)) {
        luma = coder.levels.data();
        lumaLanes = coder.predictionLanes.data();
    } else if (holds(coder.previousSection)) {
        luma = coder.previousLevels.data();
        lumaLanes = coder.previousLanes.data();
    }
    TokenSectionHeader header;
    SectionLayout layout;
    if (luma == nullptr || !ReadLayout(section, length, frame, &header, &layout) ||
        layout.geometry.across != coder.blocksAcross || layout.geometry.down != coder.blocksDown) {
        return false;
    }
    const Geometry& g = layout.geometry;
    const size_t lumaBlocks = coder.yFlags.size();
    const size_t chromaBlocks = coder.uFlags.size();
    BuildQuantiserTables(header.quality, coder.quantiserTables);
    const QuantiserTables& tables = coder.quantiserTables;
    // A block's levels as they were before the prediction, and the last index a decoder finds for it: that
    // of the coded levels, raised where the prediction restores a level. No row waits for the one above.
    // The restored levels' bits come from the lanes, not from reading `out` back, which would wait for
    // their stores.
    auto blockLevels = [](const int16_t* coded, const int16_t* lanes, uint32_t predicted, int16_t* out) {
        std::memcpy(out, coded, 64 * sizeof(int16_t));
        const uint8_t codedLast = LastLevelIndex(coded);
        uint32_t restored = 0;
        for (int i = 0; i < kPredictedPositionCount; ++i) {
            out[kPredictedPositions[i]] = lanes[i];
            restored |= uint32_t{lanes[i] != 0} << kPredictedPositions[i];
        }
        return RaiseLastIndex(codedLast, restored, predicted);
    };
    const dsp::TransformKernels& kernels = ActiveTransformKernels();
    const uint32_t lumaPredicted = PredictedPositionBits(layout.lumaModes);
    const uint32_t chromaPredicted[2] = {PredictedPositionBits(layout.uModes),
                                         PredictedPositionBits(layout.vModes)};
    auto lumaRow = [&](int32_t row, int16_t* levels) {
        uint8_t* pixels = frame.y + ptrdiff_t{8} * row * g.stride;
        for (int32_t column = 0; column < g.across; ++column) {
            const size_t block =
                static_cast<size_t>(row) * static_cast<size_t>(g.across) + static_cast<size_t>(column);
            const uint8_t last = blockLevels(luma + block * 64, lumaLanes + block * kPredictedPositionCount,
                                             lumaPredicted, levels);
            const bool intra = layout.key || layout.intra[block] != 0;
            ReconstructLumaBlock(kernels, tables.quantiserTable[intra ? kIntraLumaTable : kInterLumaTable],
                                 intra, last, levels, pixels + 8 * column, g.stride);
        }
    };
    auto chromaRow = [&](int32_t row, int16_t* levels) {
        const int16_t* steps = tables.quantiserTable[layout.key ? kIntraChromaTable : kInterChromaTable];
        const ptrdiff_t offset = ptrdiff_t{8} * row * g.stride;
        for (int plane = 0; plane < 2; ++plane) {
            const size_t first = lumaBlocks + static_cast<size_t>(plane) * chromaBlocks;
            uint8_t* pixels = (plane == 0 ? frame.u : frame.v) + offset;
            const uint32_t predicted = chromaPredicted[plane];
            for (int32_t column = 0; column < g.chromaAcross; ++column) {
                const size_t block = first + static_cast<size_t>(row) * static_cast<size_t>(g.chromaAcross) +
                                     static_cast<size_t>(column);
                const uint8_t last = blockLevels(
                    luma + block * 64, lumaLanes + block * kPredictedPositionCount, predicted, levels);
                ReconstructChromaBlock(kernels, steps, layout.key, last, levels, pixels + 8 * column,
                                       g.stride);
            }
        }
    };
    // Units: macroblock rows (two luma block rows and a chroma one), each predicted first when asked, so
    // that the residual is added to pixels still in the worker's cache.
    platform::RunBands(coder.workers, static_cast<uint32_t>(g.chromaDown), [&](uint32_t unit, int) {
        alignas(32) int16_t levels[64];
        if (predictRow != nullptr) (*predictRow)(unit);
        const auto row = static_cast<int32_t>(unit);
        lumaRow(2 * row, levels);
        lumaRow(2 * row + 1, levels);
        chromaRow(row, levels);
    });
    return true;
}

}  // namespace rq43
