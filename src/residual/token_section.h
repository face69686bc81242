// The token section of a compressed frame: the quantised levels of all three planes, with the intra-block
// map of a delta frame and the per-plane prediction modes. Layout (little-endian):
//   0 blockMapSize, 4 lumaStreamSize, 8 chromaStreamSize, 12 reserved (0)   (32-bit each)
//   16 luma, 18 U, 20 V prediction modes (2 bits per position), 22 quality byte, 23 key flag,
//   24 block map, then the luma and the chroma token stream.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace rq43 {

struct ResidualCoder;
struct YuvFrame;

namespace platform {
class WorkerPair;
}

// The fixed fields at the start of a section, in the order and widths listed above.
struct TokenSectionHeader {
    static constexpr size_t kSize = 24;
    static constexpr size_t kQualityOffset = 22;  // the frame header repeats this byte

    uint32_t blockMapSize = 0;
    uint32_t lumaStreamSize = 0;
    uint32_t chromaStreamSize = 0;
    uint16_t lumaModes = 0, uModes = 0, vModes = 0;
    uint8_t quality = 0;
    uint8_t key = 0;
};

inline constexpr size_t kTokenSectionHeaderSize = TokenSectionHeader::kSize;

// Both take TokenSectionHeader::kSize bytes.
void WriteTokenSectionHeader(const TokenSectionHeader& header, uint8_t* out);
TokenSectionHeader ReadTokenSectionHeader(const uint8_t* in);

// Quantises and classifies the blocks that TransformFrame prepared in `coder` (at coder.quality) and codes
// them. keyFrame 1 codes every block intra; 0 decides per block and sets bit 0 of the intra luma blocks'
// flags. Replaces `section` with the whole section (its capacity is kept for the next call). False,
// leaving `section` empty, when the coder holds no transformed frame (or no difference frame for a delta
// section) or a stream would hold more tokens than its header can count. With a sizeLimit, a section that
// is sure to come out at sizeLimit bytes or more is not finished: true with `section` empty.
[[nodiscard]] bool EncodeTokenSection(ResidualCoder& coder, uint8_t keyFrame, std::vector<uint8_t>& section,
                                      size_t sizeLimit = SIZE_MAX);

// EncodeTokenSection in two steps, so that the second may be shared by two workers (SectionWriter):
// PrepareTokenSection quantises and classifies the blocks (with coder.workers); SectionWriter, given its
// answer and nothing coded on the coder in between, codes them.
struct PreparedSection {
    bool key = false;
    int32_t intraBlocks = 0;
    bool ready = false;  // the coder held a frame to code
};
[[nodiscard]] PreparedSection PrepareTokenSection(ResidualCoder& coder, uint8_t keyFrame);

// The writing of a prepared section, in steps: the luma steps (TokeniseLuma, then CodeLuma) and the chroma
// steps (TokeniseChroma, then CodeChroma) touch state of their own, so each pair may run on a worker of its
// own. Finish, once every step has run or the section was given up, answers as EncodeTokenSection does,
// with the same bytes in `section` (which the luma steps fill meanwhile).
class SectionWriter {
  public:
    SectionWriter(ResidualCoder& coder, const PreparedSection& prepared, std::vector<uint8_t>& section);

    void TokeniseLuma();
    void TokeniseChroma();
    // The least the section can come to from what is tokenised or coded so far; not while a step runs.
    [[nodiscard]] size_t LeastSize();
    // The least one stream can come to (its size once coded, 0 before it is tokenised); each touches only
    // its own stream's state, so it may run beside the other stream's steps.
    [[nodiscard]] size_t LumaLeastSize();
    [[nodiscard]] size_t ChromaLeastSize();
    void CodeLuma();
    void CodeChroma();
    // It cannot win: nothing more is coded.
    void GiveUp() { givenUp_ = true; }
    [[nodiscard]] bool GivenUp() const { return givenUp_; }
    // Every step in turn on this thread, giving the section up as soon as its least size reaches `limit`
    // (SIZE_MAX: none), read at each check, so another thread may lower it meanwhile.
    void WriteAll(const std::atomic<size_t>& limit);
    // The steps not yet run, unless given up: the luma ones on one worker, the chroma ones on the other
    // (in turn on this thread when `workers` is null).
    void WriteStreams(platform::WorkerPair* workers);
    [[nodiscard]] bool Finish();

  private:
    enum class Stream { NotTokenised, Tokenised, Coded, Failed };

    ResidualCoder& coder_;
    PreparedSection prepared_;
    std::vector<uint8_t>& section_;
    size_t mapSize_ = 0;
    uint16_t lumaModes_ = 0, uModes_ = 0, vModes_ = 0;
    Stream luma_ = Stream::NotTokenised, chroma_ = Stream::NotTokenised;
    size_t lumaLeast_ = SIZE_MAX, chromaLeast_ = SIZE_MAX;  // worked out when first asked
    size_t lumaSize_ = 0, chromaSize_ = 0;
    bool givenUp_ = false;
};

// Reconstructs the section of `length` bytes into `frame`, which holds the motion-compensated prediction of
// a delta frame. Returns false, having written nothing outside the frame's planes, when the section is
// corrupt; the frame's pixels are then undefined but within the frame.
[[nodiscard]] bool DecodeTokenSection(const uint8_t* section, size_t length, ResidualCoder& coder,
                                      YuvFrame& frame);

// What DecodeTokenSection gives for a section that `coder` has just coded (one of its last two sections),
// reconstructed from the levels the coder still holds instead of from the section's token streams: those
// decode to exactly these levels, as every level is coded within the token range. The block rows are
// shared by coder.workers. False, having written nothing, when the coder no longer holds that section's
// levels (then decode the section). With `predictRow`, each macroblock row's prediction is made by
// predictRow(row) just before that row's residual is added, on the same worker; nothing is predicted when
// the result is false.
[[nodiscard]] bool ReconstructCodedSection(
    const uint8_t* section, size_t length, ResidualCoder& coder, YuvFrame& frame,
    const std::function<void(uint32_t macroblockRow)>* predictRow = nullptr);

}  // namespace rq43
