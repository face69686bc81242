#include "residual/token_stream.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

#include "bitstream/little_endian.h"

namespace rq43 {

namespace {

constexpr uint32_t kLongestEobRun = 4097;

// Level tokens 9..21: smallest magnitude and magnitude bits after the sign.
struct LevelClass {
    uint8_t token;
    int32_t base;
    int32_t width;
};
constexpr LevelClass kLevelClasses[] = {
    {9, 1, 0},  {10, 2, 0}, {11, 3, 0},  {13, 4, 0},  {14, 5, 0},  {15, 6, 0},
    {16, 7, 1}, {17, 9, 2}, {18, 13, 3}, {19, 21, 4}, {20, 37, 5}, {21, 69, 9},
};

constexpr uint32_t PackExtra(uint32_t value, int32_t bits) {
    return (static_cast<uint32_t>(bits) << 24) | value;
}

// Writes through its own pointers: a token store may alias anything, so a vector's end would be reloaded
// and stored around every token.
struct TokenSink {
    uint8_t* token;
    uint32_t* extra;
};

void Emit(TokenSink& stream, uint8_t token, uint32_t value = 0, int32_t bits = 0) {
    *stream.token++ = token;
    *stream.extra++ = PackExtra(value, bits);
}

// A token with its extra bits already packed.
struct TokenCodeWord {
    uint32_t extra = 0;
    uint8_t token = 0;
};

void Emit(TokenSink& stream, const TokenCodeWord& word) {
    *stream.token++ = word.token;
    *stream.extra++ = word.extra;
}

// The run code of value as one field: g ones, a zero, the g - 1 bits below the leading one.
void EmitEndOfBlocks(TokenSink& stream, uint32_t count) {
    if (count == 0) return;
    if (count == 1) {
        Emit(stream, kTokenEndOfBlock);
        return;
    }
    const uint32_t value = count - 2;
    int32_t g = 0;
    while ((value >> g) != 0) ++g;
    if (g == 0) {
        Emit(stream, kTokenEndOfBlockRun, 0, 1);
        return;
    }
    const uint32_t prefix = ((1u << g) - 1u) << 1;
    const uint32_t code = (prefix << (g - 1)) | (value - (1u << (g - 1)));
    Emit(stream, kTokenEndOfBlockRun, code, 2 * g);
}

constexpr TokenCodeWord ZeroRunWord(int32_t run) {
    if (run >= 16) return {PackExtra(static_cast<uint32_t>(run - 16), 4), kTokenZeroRun16};
    if (run >= 12) return {PackExtra(static_cast<uint32_t>(run - 12), 2), kTokenZeroRun12};
    if (run >= 8) return {PackExtra(static_cast<uint32_t>(run - 8), 2), kTokenZeroRun8};
    if (run >= 6) return {PackExtra(static_cast<uint32_t>(run - 6), 1), kTokenZeroRun6};
    if (run >= 4) return {PackExtra(static_cast<uint32_t>(run - 4), 1), kTokenZeroRun4};
    return {0, static_cast<uint8_t>(kTokenZeroRun1 + 1 - run)};
}

// Per run length 1..31 (index 0 unused).
constexpr auto kZeroRunWords = [] {
    std::array<TokenCodeWord, 32> words{};
    for (int32_t run = 1; run < 32; ++run) words[static_cast<size_t>(run)] = ZeroRunWord(run);
    return words;
}();

// Index into kLevelClasses of every magnitude up to the largest.
constexpr auto kClassOfMagnitude = [] {
    std::array<uint8_t, kLargestLevel + 1> classOf{};
    uint8_t c = 0;
    for (int32_t magnitude = 1; magnitude <= kLargestLevel; ++magnitude) {
        while (c + 1u < std::size(kLevelClasses) && magnitude >= kLevelClasses[c + 1u].base) ++c;
        classOf[static_cast<size_t>(magnitude)] = c;
    }
    return classOf;
}();

constexpr TokenCodeWord LevelWord(int32_t level) {
    const uint32_t sign = level < 0 ? 1u : 0u;
    const int32_t magnitude = level < 0 ? -level : level;
    const LevelClass& c = kLevelClasses[kClassOfMagnitude[static_cast<size_t>(magnitude)]];
    const uint32_t offset = static_cast<uint32_t>(magnitude - c.base);
    return {PackExtra((sign << c.width) | offset, 1 + c.width), c.token};
}

// Per level from -kLargestLevel to kLargestLevel (the entry of 0 unused).
constexpr auto kLevelWords = [] {
    std::array<TokenCodeWord, 2 * kLargestLevel + 1> words{};
    for (int32_t level = -kLargestLevel; level <= kLargestLevel; ++level)
        if (level != 0) words[static_cast<size_t>(level + kLargestLevel)] = LevelWord(level);
    return words;
}();

void EmitLevel(TokenSink& stream, int32_t level) {
    Emit(stream,
         kLevelWords[static_cast<size_t>(std::clamp(level, -kLargestLevel, kLargestLevel) + kLargestLevel)]);
}

// Bit i set when level i of the block is not zero.
uint64_t NonZeroLevels(const int16_t* block) {
    uint64_t mask = 0;
    for (int i = 0; i < kBlockLevels; i += 16) mask |= uint64_t{NonZeroLevels16(block + i)} << i;
    return mask;
}

// What the decoder does with a token: a level of `base` plus `width` magnitude bits after a sign bit; a
// zero run of `base` plus `width` bits; the end of the block; or an end-of-block run (read apart). The
// kind is held as masks, so that the decoder need not branch on it.
struct TokenAction {
    int32_t base = 0;
    int32_t width = 0;
    int32_t fieldBits = 0;   // width, and the sign bit of a level
    int32_t level = 0;       // all ones for a level
    int32_t toBlockEnd = 0;  // all ones for the end of the block
};

constexpr auto kTokenActions = [] {
    std::array<TokenAction, kTokenAlphabetSize> actions{};
    constexpr int32_t kRunWidths[] = {4, 2, 2, 1, 1, 0, 0, 0};
    constexpr int32_t kRunBases[] = {16, 12, 8, 6, 4, 3, 2, 1};
    for (uint8_t token = kTokenZeroRun16; token <= kTokenZeroRun1; ++token)
        actions[token] = {kRunBases[token], kRunWidths[token], kRunWidths[token], 0, 0};
    actions[kTokenEndOfBlock] = {0, 0, 0, 0, -1};
    for (const LevelClass& c : kLevelClasses) actions[c.token] = {c.base, c.width, c.width + 1, -1, 0};
    return actions;
}();

// WriteBits for each packed field, into a writer holding no pending bits, 32 bits per store.
void WriteExtraBits(BitWriter& writer, const uint32_t* extras, size_t count) {
    uint64_t acc = 0;  // the low `held` bits are pending
    int32_t held = 0;
    int64_t written = 0;
    uint8_t* out = writer.out;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t bits = extras[i] >> 24;  // at most 24
        acc = (acc << bits) | (extras[i] & ((1u << bits) - 1u));
        held += static_cast<int32_t>(bits);
        if (held < 32) continue;
        held -= 32;
        const auto word = static_cast<uint32_t>(acc >> held);
        written += 32;
        if (writer.end - out >= 4) {
            out[0] = static_cast<uint8_t>(word >> 24);
            out[1] = static_cast<uint8_t>(word >> 16);
            out[2] = static_cast<uint8_t>(word >> 8);
            out[3] = static_cast<uint8_t>(word);
            out += 4;
        } else {
            writer.out = out;
            for (int shift = 24; shift >= 0; shift -= 8) PutWriterByte(writer, word >> shift);
            out = writer.out;
        }
    }
    writer.out = out;
    writer.totalBits += static_cast<int32_t>(written);
    if (held > 16) {
        WriteBits(writer, static_cast<uint32_t>(acc >> 16) & ((1u << (held - 16)) - 1u), held - 16);
        held = 16;
    }
    WriteBits(writer, static_cast<uint32_t>(acc) & ((1u << held) - 1u), held);
}

}  // namespace

void TokeniseLevels(TokenStream& stream, const int16_t* levels, size_t levelCount) {
    // Every token covers at least one level or, for the ends of blocks, at least one block.
    const size_t mostTokens = levelCount + levelCount / kBlockLevels + 1;
    stream.tokens.resize(mostTokens);
    stream.extraBits.resize(mostTokens);
    TokenSink sink{stream.tokens.data(), stream.extraBits.data()};
    uint32_t endOfBlocks = 0;
    for (size_t blockStart = 0; blockStart + kBlockLevels <= levelCount; blockStart += kBlockLevels) {
        const int16_t* block = levels + blockStart;
        const uint64_t nonZero = NonZeroLevels(block);
        if (nonZero == 0) {
            if (++endOfBlocks == kLongestEobRun) {
                EmitEndOfBlocks(sink, endOfBlocks);
                endOfBlocks = 0;
            }
            continue;
        }
        EmitEndOfBlocks(sink, endOfBlocks);
        endOfBlocks = 0;
        // Zero runs up to the last level, at most 31 each; the zeros after it are the end of the block.
        int32_t b = 0;
        for (uint64_t left = nonZero; left != 0; left &= left - 1) {
            const auto next = static_cast<int32_t>(std::countr_zero(left));
            int32_t zeros = next - b;
            for (; zeros > 31; zeros -= 31) Emit(sink, kZeroRunWords[31]);
            // Whether a run comes before a level is what a predictor cannot guess: the run's token is
            // written either way and kept only when there are zeros (the slot is the level's otherwise).
            const TokenCodeWord& run = kZeroRunWords[static_cast<size_t>(zeros)];
            *sink.token = run.token;
            *sink.extra = run.extra;
            const size_t kept = zeros > 0 ? 1 : 0;
            sink.token += kept;
            sink.extra += kept;
            EmitLevel(sink, block[next]);
            b = next + 1;
        }
        if (b < kBlockLevels) ++endOfBlocks;  // the block's end is coded with whatever follows
    }
    EmitEndOfBlocks(sink, endOfBlocks);
    stream.tokens.resize(static_cast<size_t>(sink.token - stream.tokens.data()));
    stream.extraBits.resize(stream.tokens.size());
}

bool EncodeTokenStream(TokenStream& stream, const int16_t* levels, size_t levelCount, uint8_t* out,
                       uint8_t* end) {
    TokeniseLevels(stream, levels, levelCount);
    return WriteTokenStream(stream, out, end);
}

bool WriteTokenStream(TokenStream& stream, uint8_t* out, uint8_t* end) {
    BuildTokenTables(stream);
    return WriteTabledTokenStream(stream, out, end);
}

void BuildTokenTables(TokenStream& stream) {
    stream.tokenCount = static_cast<uint32_t>(std::min<size_t>(stream.tokens.size(), UINT32_MAX));
    BuildCodeTables(stream.tables, stream.tokens.data(), stream.tokens.size());
}

size_t TokenStreamSizeAtLeast(const TokenStream& stream) {
    uint64_t extraBits = 0;
    for (const uint32_t extra : stream.extraBits) extraBits += extra >> 24;
    return kTokenStreamHeaderSize + WriteCodeTables(stream.tables, nullptr, nullptr) +
           TokenStringSizeAtLeast(stream.tables, stream.arithmetic != 0) +
           static_cast<size_t>((extraBits + 7) / 8);
}

bool WriteTabledTokenStream(TokenStream& stream, uint8_t* out, uint8_t* end) {
    const size_t capacity = end > out ? static_cast<size_t>(end - out) : 0;
    auto at = [&](size_t offset) { return offset <= capacity ? out + offset : end; };
    const size_t tableSize = WriteCodeTables(stream.tables, at(kTokenStreamHeaderSize), end);
    const size_t stringStart = kTokenStreamHeaderSize + tableSize;
    const size_t stringSize = EncodeTokenString(stream.tables, stream.tokens.data(), stream.tokens.size(),
                                                stream.arithmetic != 0, at(stringStart), end);
    const size_t extraStart = stringStart + stringSize;
    StartBitWriter(stream.writer, at(extraStart), end, 0);

    if (stream.tokens.size() > 0xFFFFFF || tableSize > 0xFFFF || stringSize > 0xFFFFFF ||
        extraStart > capacity || extraStart > INT32_MAX / 8) {
        return false;
    }
    out[0] = 0;
    PutLittleEndian(out + 1, static_cast<uint32_t>(stream.tokens.size()), 3);
    PutLittleEndian(out + 4, static_cast<uint32_t>(tableSize), 2);
    PutLittleEndian(out + 6, static_cast<uint32_t>(stringSize), 3);

    stream.writer.totalBits = static_cast<int32_t>(8 * extraStart);
    WriteExtraBits(stream.writer, stream.extraBits.data(), stream.extraBits.size());
    return !stream.writer.overflow;
}

bool FinishTokenStream(TokenStream& stream, size_t* size) {
    FlushBitWriter(stream.writer);
    *size = static_cast<size_t>(stream.writer.totalBits / 8);
    return !stream.writer.overflow;
}

bool OpenTokenStream(TokenStream& stream, const uint8_t* in, size_t size, uint64_t blockCount) {
    ReleaseTokenStream(stream);
    if (in == nullptr || size < kTokenStreamHeaderSize) return false;
    const uint32_t tokenCount = GetLittleEndian(in + 1, 3);
    const size_t tableSize = GetLittleEndian(in + 4, 2);
    const size_t stringSize = GetLittleEndian(in + 6, 3);
    const size_t stringStart = kTokenStreamHeaderSize + tableSize;
    const size_t extraStart = stringStart + stringSize;
    // Every token stands for at least one level.
    if (stringSize == 0 || extraStart > size || tokenCount > blockCount * kBlockLevels) return false;
    if (!ReadCodeTables(stream.tables, in + kTokenStreamHeaderSize, in + stringStart)) return false;

    if (stream.tokens.size() < tokenCount) stream.tokens.resize(tokenCount);
    // A range-coded string may look at the bytes behind it (they belong to this stream); a prefix-coded
    // one must end inside its own bytes.
    const bool prefixCoded = in[stringStart] == 0;
    const uint8_t* stringEnd = prefixCoded ? in + extraStart : in + size;
    if (!DecodeTokenString(stream.tables, in + stringStart, stringEnd, tokenCount, stream.tokens.data())) {
        ReleaseTokenStream(stream);
        return false;
    }
    stream.tokenCount = tokenCount;
    stream.blocksLeft = blockCount;
    stream.reader = WordReader(in + extraStart, in + size);
    return true;
}

bool DecodeBlockRow(TokenStream& stream, int16_t* levelsOut, uint32_t blockCount, uint8_t* lastIndexOut) {
    if (blockCount > stream.blocksLeft) return false;
    std::fill(lastIndexOut, lastIndexOut + blockCount, uint8_t{0});

    // The stream's state in locals: a store of a last index may alias anything, so state reached through
    // the stream would be reloaded and stored around every token.
    WordReader reader = stream.reader;
    const uint8_t* const tokens = stream.tokens.data();
    const uint32_t tokenCount = stream.tokenCount;
    uint32_t nextToken = stream.nextToken;
    const uint32_t carried = std::min(blockCount, stream.eobRunLeft);
    uint32_t eobRunLeft = stream.eobRunLeft - carried;
    const uint64_t blocksLeft = stream.blocksLeft;
    // The block within the row and the position within the block: apart, the position's step from token
    // to token is an add and a mask, not a round trip through the block's end.
    size_t block = carried;
    uint32_t at = 0;
    uint8_t noLevel = 0;  // where tokens other than levels store their position
    bool complete = true;
    while (block < blockCount) {
        if (nextToken >= tokenCount) {
            complete = false;
            break;
        }
        const uint8_t token = tokens[nextToken++];
        if (token >= kTokenAlphabetSize) continue;
        // A level or run takes at most 10 bits, a run code 48.
        if (reader.count < 48) reader.Refill();
        if (token == kTokenEndOfBlockRun) {
            // The first end-of-block closes the current block; the others are whole empty blocks.
            const uint64_t emptyBlocks = uint64_t{ReadEobRun(reader)} + 1;
            block += 1;
            at = 0;
            if (emptyBlocks > blocksLeft - block) {
                complete = false;
                break;
            }
            const uint64_t inRow = std::min<uint64_t>(emptyBlocks, blockCount - block);
            block += static_cast<size_t>(inRow);
            eobRunLeft = static_cast<uint32_t>(emptyBlocks - inRow);
            continue;
        }
        // Levels, zero runs and ends of blocks without branches: which comes next is what a predictor
        // cannot guess. A run writes a zero where its first level would be.
        const TokenAction& action = kTokenActions[token];
        const uint32_t field = reader.PeekUpTo32(action.fieldBits);
        reader.Skip(action.fieldBits);
        const int32_t magnitude = action.base + static_cast<int32_t>(field & ((1u << action.width) - 1u));
        const int32_t negative = -static_cast<int32_t>((field >> action.width) & 1u) & action.level;
        levelsOut[block * kBlockLevels + at] =
            static_cast<int16_t>(((magnitude ^ negative) - negative) & action.level);
        // The last level of a block is the last one stored: positions only grow within it.
        *(action.level != 0 ? &lastIndexOut[block] : &noLevel) = static_cast<uint8_t>(at);
        const auto level = static_cast<uint32_t>(action.level);
        const uint32_t run = static_cast<uint32_t>(magnitude) +
                             ((kBlockLevels - at) & static_cast<uint32_t>(action.toBlockEnd));
        const uint32_t advance = (run & ~level) | (1 & level);
        if (at + advance > kBlockLevels) {
            complete = false;
            break;
        }
        at += advance;
        block += at / kBlockLevels;  // the block's end reached
        at %= kBlockLevels;
    }
    stream.reader = reader;
    stream.nextToken = nextToken;
    stream.eobRunLeft = eobRunLeft;
    if (!complete) return false;
    stream.blocksLeft -= blockCount;
    return true;
}

uint8_t LastLevelIndex(const int16_t* block) {
    const uint64_t nonZero = NonZeroLevels(block);
    return nonZero == 0 ? 0 : static_cast<uint8_t>(63 - std::countl_zero(nonZero));
}

void ReleaseTokenStream(TokenStream& stream) {
    stream.tokenCount = 0;
    stream.nextToken = 0;
    stream.eobRunLeft = 0;
    stream.blocksLeft = 0;
}

}  // namespace rq43
