// The compression sequence: Begin sizes the buffers, each Compress turns one host picture into one
// compressed frame (converting, prefiltering, estimating motion and transforming once, then searching
// for the quality that meets the byte target), and decodes that frame back exactly as a decoder will so
// that the next frame is predicted from the same picture the decoder holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/settings_store.h"
#include "motion/motion_field.h"
#include "picture/difference_frame.h"
#include "picture/yuv_frame.h"
#include "platform/vfw.h"
#include "platform/worker_pair.h"
#include "residual/residual_coder.h"

namespace rq43 {

// The host's status procedure; calls are skipped when none is set and its answer is ignored.
struct StatusSink {
    StatusCallback proc = nullptr;
    LPARAM param = 0;
    void Report(UINT message, LONG value) const {
        if (proc != nullptr) proc(param, message, value);
    }
};

// What a frame is coded with besides the sequence's own state, read afresh at every frame so that a
// change made during a sequence applies from the next frame.
struct FrameOptions {
    uint8_t autoKeyInsert = 1;
    uint8_t strongCompression = 0;
    int8_t prefilterStrength = 0;
    int8_t prefilterIterations = 1;
    int32_t defaultFrameSize = 0;  // per-frame byte target when the host gives none; 0 = none
    StatusSink status;
};

// What a caller may touch: Begin, Compress and End; `open`, which the driver clears to refuse frames
// until the next Begin succeeds; and, to read only, the picture encCurrent points at (the decoded
// picture of the frame just coded, exactly what a decoder holds). Everything else is the sequence's own.
class CompressionSequence {
  public:
    bool open = false;
    YuvFrame* encCurrent = nullptr;  // receives the input picture, then its reconstruction

    CompressionSequence();

    // Opens the sequence for pictures of width x height (positive multiples of 16, as the driver's format
    // checks guarantee) at bitCount 16, 24 or 32; twoWorkers shares the frame work between the instance's
    // two workers. ICERR_OK, or ICERR_MEMORY when the buffers cannot be had (the sequence is then closed).
    int32_t Begin(int32_t width, int32_t height, int32_t bitCount, const CodecSettings& settings,
                  bool twoWorkers, int8_t qualitySetting);

    // Codes the host's picture into record.lpOutput. qualitySetting becomes this frame's dwQuality / 100.
    // ICERR_BADFORMAT without an open sequence or for a picture that is not the one Begin accepted,
    // ICERR_MEMORY when a buffer cannot be had.
    int32_t Compress(ICCOMPRESS& record, int8_t& qualitySetting, const FrameOptions& options);

    // Releases every buffer and closes the sequence.
    void End();

    bool TwoWorkers() const { return twoWorkers; }
    // Bytes the frames coded against the default target have overshot it so far.
    int32_t RunningOvershoot() const { return runningOvershoot; }

  private:
    struct Analysis;
    // One rate-control attempt: the token sections coded at the coders' quality and the one chosen. Kept
    // across frames, as each section is rewritten in place: its buffer is had once, not for every frame.
    struct Attempt {
        bool key = false;
        std::vector<uint8_t> keySection;
        std::vector<uint8_t> deltaSection;
        uint16_t motionSize = 0;
        uint64_t total = 0;

        const std::vector<uint8_t>& Tokens() const { return key ? keySection : deltaSection; }
    };

    int32_t encWidth = 0;
    int32_t encHeight = 0;
    int32_t encBitCount = 0;
    YuvFrame encFrames[2];
    YuvFrame* encReference = nullptr;  // reconstruction of the previous frame, borders extended
    DifferenceFrame differenceFrame;
    MotionField encMotionField;
    ResidualCoder encoderCoder;
    // With two workers, a delta frame's key-frame alternative is coded here, beside the delta section.
    ResidualCoder keyCoder;
    bool keyCoderLoaded = false;         // keyCoder holds this frame's transform
    bool keyAlternativeGivenUp = false;  // the last delta frame's key section was given up, not coded
    ResidualCoder reconstructionCoder;
    bool twoWorkers = false;
    // Created on the first frame that uses them, kept across sequences, ended with the codec instance.
    platform::WorkerPair workers;
    int32_t lastFrameNumber = 0;
    int8_t carriedQuality = 0;
    int32_t runningOvershoot = 0;
    // Set when a frame failed part-way: the reference no longer matches what a decoder holds, so the
    // next frame must not predict from it.
    bool needsKeyFrame = false;
    Attempt frameAttempt;

    bool Accepts(const ICCOMPRESS& record) const;
    void AdvanceReference(LONG frameNumber);
    void SizeFrameWork();
    void PrepareInput(const ICCOMPRESS& record, const FrameOptions& options);
    Analysis Analyse(bool key);
    [[nodiscard]] bool SearchRate(ICCOMPRESS& record, int8_t qualitySetting, const FrameOptions& options,
                                  const Analysis& analysis, Attempt& written);
    [[nodiscard]] bool CodeAttempt(bool key, bool autoKeyInsert, const std::vector<uint8_t>* motion,
                                   Attempt& attempt);
    PreparedSection PrepareKeyAlternative(platform::WorkerPair* rowWorkers);
    void WriteBothSections(const std::vector<uint8_t>& motion, Attempt& attempt, bool& deltaCoded,
                           bool& keyCoded);
    [[nodiscard]] bool Reconstruct(const uint8_t* frame, bool key, uint16_t motionSize, size_t tokenSize);
    // A frame that could not be finished: nothing usable was written and the reference is suspect.
    int32_t Fail(const StatusSink& status);
};

}  // namespace rq43
