#include "pipeline/compression_sequence.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "motion/motion_compensation.h"
#include "motion/motion_estimation.h"
#include "motion/motion_section.h"
#include "picture/input_conversion.h"
#include "picture/prefilter.h"
#include "pipeline/frame_header.h"
#include "pipeline/rate_control.h"
#include "residual/token_section.h"

namespace rq43 {
namespace {

constexpr int32_t kFrameBorder = 16;
constexpr uint32_t kNoKeySection = 0x7FFFFFFF;
constexpr size_t kTokenSectionQualityOffset = 22;
constexpr LONG kAttemptProgress = 60;
constexpr LONG kReconstructionProgress = 90;

// The index-flags word is an answer, not a request: the manager's own sequence calls hand back the
// previous frame's word unchanged, so reading a key flag there would make every frame a key frame.
bool ForcedKeyFrame(const ICCOMPRESS& record, bool needsKeyFrame) {
    return record.lFrameNum == 0 || (record.dwFlags & ICCOMPRESS_KEYFRAME) != 0 || needsKeyFrame;
}

void ReportFrameKind(const ICCOMPRESS& record, bool key) {
    if (record.lpdwFlags == nullptr) return;
    if (key)
        *record.lpdwFlags |= AVIIF_KEYFRAME;
    else
        *record.lpdwFlags &= ~AVIIF_KEYFRAME;
}

int32_t Magnitude(int32_t value) {
    return value < 0 ? -value : value;
}

// YUY2 and UYVY pictures are top-down whatever the sign of their height; RGB follows the sign.
void ConvertInput(const ICCOMPRESS& record, int32_t width, int32_t height, int32_t bitCount,
                  YuvFrame& frame) {
    const auto* pixels = static_cast<const uint8_t*>(record.lpInput);
    const ptrdiff_t w = width;
    const ptrdiff_t lastRow = ptrdiff_t(height) - 1;
    switch (bitCount) {
        case 16:
            if (record.lpbiInput->biCompression == FOURCC_UYVY)
                ConvertUyvyToYuv(-2 * w, pixels + 2 * w * lastRow, frame);
            else
                ConvertYuy2ToYuv(-2 * w, pixels + 2 * w * lastRow, frame);
            break;
        case 24:
        case 32: {
            const int32_t bytes = bitCount / 8;
            if (record.lpbiInput->biHeight < 0)
                ConvertRgbToYuv(pixels + bytes * w * lastRow, frame, bytes, -bytes * w);
            else
                ConvertRgbToYuv(pixels, frame, bytes, bytes * w);
            break;
        }
        default:
            break;
    }
}

// One rate-control attempt: the token sections coded at the coder's quality and the one chosen.
struct Attempt {
    bool key = false;
    std::vector<uint8_t> keySection;
    std::vector<uint8_t> deltaSection;
    uint16_t motionSize = 0;
    uint64_t total = 0;

    const std::vector<uint8_t>& Tokens() const { return key ? keySection : deltaSection; }
};

// A key section whenever a key frame is possible; the delta one unless the frame must be key. The
// smaller frame wins, a tie going to the delta frame.
Attempt CodeAttempt(ResidualCoder& coder, bool key, bool autoKeyInsert, const std::vector<uint8_t>* motion) {
    Attempt attempt;
    uint32_t keySize = kNoKeySection;
    if (key || autoKeyInsert) {
        attempt.keySection = EncodeTokenSection(coder, 1);
        keySize = static_cast<uint32_t>(attempt.keySection.size());
    }
    attempt.key = key;
    if (!key) {
        attempt.deltaSection = EncodeTokenSection(coder, 0);
        attempt.key = keySize < static_cast<uint32_t>(motion->size() + attempt.deltaSection.size());
    }
    attempt.motionSize = attempt.key ? 0 : static_cast<uint16_t>(motion->size());
    attempt.total = kFrameHeaderSize + attempt.motionSize + uint64_t{attempt.Tokens().size()};
    return attempt;
}

void WriteFrame(const Attempt& attempt, const std::vector<uint8_t>* motion, uint8_t* out) {
    const std::vector<uint8_t>& tokens = attempt.Tokens();
    // The frame's quality byte is the one the token section carries (and scales its tables by).
    WriteFrameHeader({tokens[kTokenSectionQualityOffset], uint8_t(attempt.key ? 1 : 0), attempt.motionSize,
                      static_cast<uint32_t>(tokens.size())},
                     out);
    if (!attempt.key) std::memcpy(out + kFrameHeaderSize, motion->data(), attempt.motionSize);
    std::memcpy(out + kFrameHeaderSize + attempt.motionSize, tokens.data(), tokens.size());
}

}  // namespace

CompressionSequence::CompressionSequence() {
    InitResidualCoder(encoderCoder);
    InitResidualCoder(reconstructionCoder);
}

int32_t CompressionSequence::Begin(int32_t width, int32_t height, int32_t bitCount,
                                   const CodecSettings& settings, bool useTwoWorkers, int8_t qualitySetting) {
    open = false;
    encWidth = width;
    encHeight = height;
    encBitCount = bitCount;
    try {
        for (YuvFrame& frame : encFrames)
            AllocateFrame(frame, uint32_t(encWidth), uint32_t(encHeight), kFrameBorder);
        AllocateDifferenceFrame(differenceFrame, encWidth, encHeight);
        AllocateMotionField(encMotionField, uint32_t(encWidth), uint32_t(encHeight), kFrameBorder);
    } catch (const std::bad_alloc&) {
        End();
        return ICERR_MEMORY;
    }
    multiProcessor = useTwoWorkers ? 1 : 0;
    encMotionField.workers = useTwoWorkers ? &workers : nullptr;
    encMotionField.fastSearch = settings.fastSearch != 0 ? 1 : 0;
    encMotionField.subBlockSearch = settings.subBlockMotion != 0 ? 1 : 0;
    encMotionField.subBlockMotion = encMotionField.subBlockSearch;
    carriedQuality = qualitySetting;
    encCurrent = &encFrames[0];
    encReference = &encFrames[1];
    lastFrameNumber = 0;
    runningOvershoot = 0;
    needsKeyFrame = false;
    open = true;
    return ICERR_OK;
}

void CompressionSequence::End() {
    for (YuvFrame& frame : encFrames) ReleaseFrame(frame);
    ReleaseDifferenceFrame(differenceFrame);
    encMotionField = MotionField{};
    ReleaseResidualCoder(encoderCoder);
    ReleaseResidualCoder(reconstructionCoder);
    encCurrent = nullptr;
    encReference = nullptr;
    open = false;
}

int32_t CompressionSequence::Fail(const StatusSink& status) {
    needsKeyFrame = true;
    status.Report(ICSTATUS_END, 0);
    return ICERR_INTERNAL;
}

// Decodes the frame just written, exactly as a decoder will: this is the next frame's reference.
bool CompressionSequence::Reconstruct(const uint8_t* frame, bool key, uint16_t motionSize, size_t tokenSize) {
    const uint8_t* frameEnd = frame + kFrameHeaderSize + motionSize + tokenSize;
    if (key) {
        ClearMotionVectors(encMotionField);
    } else if (!DecodeMotionSection(*encCurrent, *encReference, frame + kFrameHeaderSize, motionSize,
                                    encMotionField, frameEnd) ||
               !CompensateMotion(encMotionField)) {
        return false;
    }
    return DecodeTokenSection(frame + kFrameHeaderSize + motionSize, tokenSize, reconstructionCoder,
                              *encCurrent);
}

int32_t CompressionSequence::Compress(ICCOMPRESS& record, int8_t& qualitySetting,
                                      const FrameOptions& options) {
    if (!open || record.lpbiInput == nullptr || record.lpInput == nullptr || record.lpbiOutput == nullptr ||
        record.lpOutput == nullptr)
        return ICERR_BADFORMAT;
    const BITMAPINFOHEADER& input = *record.lpbiInput;
    if (input.biWidth != encWidth || Magnitude(input.biHeight) != encHeight ||
        input.biBitCount != encBitCount)
        return ICERR_BADFORMAT;

    bool started = false;
    try {
        // A new frame number: the last reconstruction becomes the reference.
        if (record.lFrameNum != lastFrameNumber) {
            std::swap(encCurrent, encReference);
            ExtendBorders(*encReference);
            lastFrameNumber = record.lFrameNum;
            CarryMotionVectors(encMotionField);
        }
        options.status.Report(ICSTATUS_START, 0);
        started = true;
        qualitySetting = static_cast<int8_t>(static_cast<uint8_t>(record.dwQuality / 100));

        ConvertInput(record, encWidth, encHeight, encBitCount, *encCurrent);
        if (options.prefilterStrength != 0)
            PrefilterFrame(*encCurrent, options.prefilterStrength, options.prefilterIterations);

        bool key = ForcedKeyFrame(record, needsKeyFrame);

        encoderCoder.workers = multiProcessor != 0 ? &workers : nullptr;
        encoderCoder.quality = qualitySetting;
        encoderCoder.arithmeticTokens = options.strongCompression != 0 ? 1 : 0;

        // Motion and the transform run once; attempts only re-quantise and re-code. The motion section
        // does not depend on the quality, so it is coded once too.
        std::optional<std::vector<uint8_t>> motionSection;
        bool transformed;
        if (key) {
            transformed = LoadFrame(encoderCoder, *encCurrent, nullptr, nullptr);
        } else {
            transformed = EstimateMotion(*encCurrent, encMotionField, *encReference, differenceFrame) &&
                          LoadFrame(encoderCoder, *encCurrent, &differenceFrame, encReference);
            motionSection = EncodeMotionSection(encMotionField);
            key = !motionSection.has_value();  // a field the section cannot describe goes as a key frame
        }
        if (!transformed) return Fail(options.status);

        // Rate control: every attempt overwrites the frame in the host's buffer; the last one stands.
        auto* out = static_cast<uint8_t*>(record.lpOutput);
        const uint64_t capacity = MaxFrameBytes(uint32_t(encWidth), uint32_t(encHeight));
        const int32_t target = record.dwFrameSize != 0
                                   ? static_cast<int32_t>(std::min<DWORD>(record.dwFrameSize, INT32_MAX))
                                   : options.defaultFrameSize;
        const std::vector<uint8_t>* motion = motionSection ? &*motionSection : nullptr;
        RateSearch search = StartRateSearch(target, carriedQuality, qualitySetting);
        Attempt written;
        bool anotherAttempt = true;
        while (anotherAttempt) {
            if (search.attempt > 0 && !key) ClearIntraFlags(encoderCoder);
            encoderCoder.quality = search.quality;
            options.status.Report(ICSTATUS_STATUS, kAttemptProgress);
            written = CodeAttempt(encoderCoder, key, options.autoKeyInsert == 1, motion);
            if (written.Tokens().size() < kTokenSectionHeaderSize) return Fail(options.status);
            if (written.total > capacity) {
                // Never write past the buffer the host was told to provide: go lower instead.
                if (!ShrinkAfterOverflow(search)) return Fail(options.status);
                continue;
            }
            WriteFrame(written, motion, out);
            anotherAttempt = JudgeAttempt(search, int64_t(written.total), runningOvershoot);
        }
        carriedQuality = static_cast<int8_t>(static_cast<uint8_t>(search.quality));
        if (record.dwFrameSize == 0)
            runningOvershoot =
                AccumulateOvershoot(runningOvershoot, int64_t(written.total), options.defaultFrameSize);

        ReportFrameKind(record, written.key);
        if (!Reconstruct(out, written.key, written.motionSize, written.Tokens().size()))
            return Fail(options.status);
        if (written.key) needsKeyFrame = false;
        options.status.Report(ICSTATUS_STATUS, kReconstructionProgress);
        record.lpbiOutput->biSizeImage = static_cast<DWORD>(written.total);
        options.status.Report(ICSTATUS_END, 0);
        return ICERR_OK;
    } catch (const std::bad_alloc&) {
        needsKeyFrame = true;
        if (started) options.status.Report(ICSTATUS_END, 0);
        return ICERR_MEMORY;
    }
}

}  // namespace rq43
