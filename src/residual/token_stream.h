// The token stream of a sequence of 8x8 blocks of zigzag-ordered levels: zero runs, levels, end-of-block
// and runs of end-of-blocks as a context-coded token string, their extra bits as plain bits behind it.
//
// Layout: byte 0 is 0; bytes 1..3 tokenCount, 4..5 tableSize, 6..8 tokenStringSize (little-endian); then
// the code tables, the token string, and the extra bits up to the stream's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "bitstream/bit_writer.h"
#include "bitstream/word_reader.h"
#include "residual/code_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rq43 {

constexpr int32_t kBlockLevels = 64;
constexpr int32_t kLargestLevel = 580;  // the widest level token carries 9 magnitude bits above 69
constexpr size_t kTokenStreamHeaderSize = 9;

enum : uint8_t {
    kTokenZeroRun16 = 0,
    kTokenZeroRun12 = 1,
    kTokenZeroRun8 = 2,
    kTokenZeroRun6 = 3,
    kTokenZeroRun4 = 4,
    kTokenZeroRun3 = 5,
    kTokenZeroRun2 = 6,
    kTokenZeroRun1 = 7,
    kTokenEndOfBlock = 8,
    kTokenEndOfBlockRun = 12,
};

// Leaves the elements a vector grows by uninitialised: the token buffers are sized for the worst case and
// only the part written is read.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    explicit UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

struct TokenStream {
    uint8_t arithmetic = 1;  // encoder: code the token string with the range coder
    uint32_t tokenCount = 0;
    BitWriter writer;   // encoder: extra bits, left holding the bits not yet flushed to whole bytes
    WordReader reader;  // decoder: extra bits
    CodeTableSet tables;
    uint32_t eobRunLeft = 0;  // decoder: whole empty blocks still owed by the last end-of-block run
    std::vector<uint8_t, UninitialisedAllocator<uint8_t>>
        tokens;  // the token string (decoder: all of it, decoded when opened)
    uint32_t nextToken = 0;
    uint64_t blocksLeft = 0;  // decoder: blocks the stream still has to produce

    // Encoder scratch, kept between attempts: per token its extra bits as (bit count << 24) | value.
    std::vector<uint32_t, UninitialisedAllocator<uint32_t>> extraBits;
};

// Splits levelCount levels (a multiple of 64) into tokens and extra bits, merging end-of-block runs.
// Levels beyond +-580 are clamped. Fills stream.tokens and stream.extraBits.
void TokeniseLevels(TokenStream& stream, const int16_t* levels, size_t levelCount);

// Writes the stream at out, never at or beyond end. Afterwards stream.writer holds the extra bits not yet
// flushed; FinishTokenStream pads them. Returns false when the output does not fit or a header field
// cannot hold its value.
bool EncodeTokenStream(TokenStream& stream, const int16_t* levels, size_t levelCount, uint8_t* out,
                       uint8_t* end);

// The writing half of EncodeTokenStream, for tokens already in stream.tokens and stream.extraBits: builds
// the code tables, then writes as WriteTabledTokenStream.
bool WriteTokenStream(TokenStream& stream, uint8_t* out, uint8_t* end);

// Builds stream.tables from stream.tokens.
void BuildTokenTables(TokenStream& stream);

// A size the finished stream never falls below, for tables built: exact but for a range-coded token string,
// whose size it bounds from below. Tells that a stream cannot fit without coding it.
size_t TokenStreamSizeAtLeast(const TokenStream& stream);

// WriteTokenStream for tables already built.
bool WriteTabledTokenStream(TokenStream& stream, uint8_t* out, uint8_t* end);

// Pads the extra bits to a byte and gives the stream's size; false when the output did not fit.
bool FinishTokenStream(TokenStream& stream, size_t* size);

// Parses a stream of size bytes that must hold blockCount blocks and decodes its whole token string.
// Fails on sizes or counts beyond the stream and on corrupt tables or token strings.
bool OpenTokenStream(TokenStream& stream, const uint8_t* in, size_t size, uint64_t blockCount);

// Produces the next blockCount blocks (64 levels each) and per block the zigzag position of its last level
// token (0 when none). The levels must be zero on entry: only the positions the tokens reach are written
// (clearing whole rows cost more than reading them). Fails on a zero run past the end of a block, an
// end-of-block run past the last block of the stream, more blocks than the stream holds, or a token string
// that ends too early.
bool DecodeBlockRow(TokenStream& stream, int16_t* levelsOut, uint32_t blockCount, uint8_t* lastIndexOut);

// Bit i set when levels[i] is not zero, for i below 16.
inline uint32_t NonZeroLevels16(const int16_t* levels) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + 8));
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    return static_cast<uint32_t>(_mm_movemask_epi8(zeros)) ^ 0xFFFFu;
#else
    uint32_t mask = 0;
    for (int i = 0; i < 16; ++i) mask |= uint32_t{levels[i] != 0} << i;
    return mask;
#endif
}

// The zigzag position of the block's last non-zero level, 0 when none: what DecodeBlockRow reports for a
// block whose levels lie within +-kLargestLevel.
uint8_t LastLevelIndex(const int16_t* block);

// Forgets the decoded token string; its storage stays for the next frame's.
void ReleaseTokenStream(TokenStream& stream);

}  // namespace rq43
