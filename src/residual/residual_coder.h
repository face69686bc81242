// The state through which one frame's transform coefficients pass into a token section and out of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "picture/difference_frame.h"
#include "picture/yuv_frame.h"
#include "residual/token_section.h"
#include "residual/token_stream.h"
#include "transform/quantiser.h"
#include "transform/transform_frame.h"

namespace rq43 {

namespace platform {
class WorkerPair;
}

constexpr uint8_t kBlockFlagIntra = 1;

// What identifies a coded section: its size and header.
struct CodedSection {
    size_t size = 0;
    uint8_t header[kTokenSectionHeaderSize] = {};
};

struct ResidualCoder {
    const YuvFrame* source = nullptr;                 // borrowed for one frame
    const DifferenceFrame* residualPlanes = nullptr;  // inter frames only
    const YuvFrame* reference = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;  // width + 2 * border
    int32_t border = 0;
    int32_t quality = 0;
    platform::WorkerPair* workers = nullptr;  // null: the caller's thread alone
    uint8_t arithmeticTokens = 1;
    int32_t blocksAcross = 0;
    int32_t blocksDown = 0;
    int32_t chromaBlocksAcross = 0;
    int32_t chromaBlocksDown = 0;
    FrameCoefficients coefficients;  // the frame's transform, filled by LoadFrame
    std::vector<uint8_t> yFlags;     // one blockFlags byte per block
    std::vector<uint8_t> uFlags;
    std::vector<uint8_t> vFlags;
    // The key section's unclamped intra luma levels, kept for the delta section of the same attempt, and the
    // quality they were quantised at; none once the coefficients change.
    std::vector<int16_t> intraLumaLevels;
    std::optional<int32_t> intraLumaQuality;
    // The section being coded: every level of the frame (luma, U, V, then U and V interleaved by block rows
    // as the chroma stream takes them), written before read.
    std::vector<int16_t> levels;
    // The section EncodeTokenSection coded last, while `levels` still holds the levels it coded; none
    // otherwise. The section before it, with its levels, moves to previousLevels (a delta frame codes its
    // key alternative first).
    std::optional<CodedSection> codedSection;
    std::vector<int16_t> previousLevels;
    std::optional<CodedSection> previousSection;
    // Where each token stream is coded before it joins its section: one each, as two workers may code them.
    std::vector<uint8_t> lumaRoom;
    std::vector<uint8_t> chromaRoom;
    // The predicted positions of every block (luma, U, V), 8 each, as they were before the prediction: with
    // `levels` they give a coded section's levels without undoing the prediction row after row. The
    // previous section's move to previousLanes with its levels.
    std::vector<int16_t> predictionLanes;
    std::vector<int16_t> previousLanes;
    std::vector<uint8_t> lastIndex;  // one byte per block of the two block rows in hand
    TokenStream lumaStream;
    TokenStream chromaStream;
    QuantiserTables quantiserTables{};  // this coder's own: rebuilt for each section it codes
};

void InitResidualCoder(ResidualCoder& coder);

// Sizes the buffers for a picture (width and height positive multiples of 16); keeps every buffer and its
// contents when width, height and border are unchanged. Returns false (coder released) for a geometry that
// is not a positive multiple of 16. Throws std::bad_alloc on allocation failure.
bool SetupResidualCoder(int32_t width, ResidualCoder& coder, int32_t border, int32_t height);

// Sizes the coder for the source frame, borrows the three frames for the rest of the frame's coding and
// transforms the frame into coder.coefficients (with coder.workers). difference and reference are null in
// key frames. Afterwards bit 0 of every block flag is 1 in key frames and 0 in delta frames. Returns false
// (nothing transformed) for a source frame whose geometry the coder cannot hold or a difference frame of
// another size.
bool LoadFrame(ResidualCoder& coder, const YuvFrame& source, const DifferenceFrame* difference,
               const YuvFrame* reference);

// LoadFrame of the frame `loaded` holds, as a key frame (a key frame's transform is the intra half of any
// frame's), but without the transform: `coder` codes from the one `loaded` lends it (LentTransform).
// False when `loaded` holds no frame.
bool LoadKeyFrameFrom(ResidualCoder& coder, const ResidualCoder& loaded);

// Lends `owner`'s transform and the intra luma levels it has quantised to `borrower`, loaded with
// LoadKeyFrameFrom, until the end of the scope: swapped, not copied, so `owner` must read neither
// meanwhile. A key section of `borrower` at the same quality then takes the levels as they are.
class LentTransform {
  public:
    LentTransform(ResidualCoder& owner, ResidualCoder& borrower);
    ~LentTransform();
    LentTransform(const LentTransform&) = delete;
    LentTransform& operator=(const LentTransform&) = delete;

  private:
    void Swap();
    ResidualCoder& owner_;
    ResidualCoder& borrower_;
};

// Forgets the coded sections whose levels the coder holds.
void ForgetCodedSections(ResidualCoder& coder);

// Forgets the intra decisions of the previous rate-control attempt: clears bit 0 of every block flag.
void ClearIntraFlags(ResidualCoder& coder);

// Frees the buffers and the decoded token strings and zeroes the geometry; the code tables stay.
void ReleaseResidualCoder(ResidualCoder& coder);

}  // namespace rq43
