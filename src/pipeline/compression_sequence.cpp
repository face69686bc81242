#include "pipeline/compression_sequence.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <new>
#include <optional>

#include "motion/block_sums.h"
#include "motion/motion_compensation.h"
#include "motion/motion_estimation.h"
#include "motion/motion_section.h"
#include "picture/input_conversion.h"
#include "picture/prefilter.h"
#include "pipeline/frame_header.h"
#include "pipeline/rate_control.h"
#include "platform/worker_split.h"
#include "residual/token_section.h"
#include "transform/transform_frame.h"

namespace rq43 {
namespace {

constexpr int32_t kFrameBorder = 16;
constexpr uint32_t kNoKeySection = 0x7FFFFFFF;
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
void ConvertInput(const ICCOMPRESS& record, int32_t width, int32_t height, int32_t bitCount, YuvFrame& frame,
                  platform::WorkerPair* workers) {
    const auto* pixels = static_cast<const uint8_t*>(record.lpInput);
    const ptrdiff_t w = width;
    const ptrdiff_t lastRow = ptrdiff_t(height) - 1;
    switch (bitCount) {
        case 16:
            if (record.lpbiInput->biCompression == FOURCC_UYVY)
                ConvertUyvyToYuv(-2 * w, pixels + 2 * w * lastRow, frame, workers);
            else
                ConvertYuy2ToYuv(-2 * w, pixels + 2 * w * lastRow, frame, workers);
            break;
        case 24:
        case 32: {
            const int32_t bytes = bitCount / 8;
            if (record.lpbiInput->biHeight < 0)
                ConvertRgbToYuv(pixels + bytes * w * lastRow, frame, bytes, -bytes * w, workers);
            else
                ConvertRgbToYuv(pixels, frame, bytes, bytes * w, workers);
            break;
        }
        default:
            break;
    }
}

// The frame's quality byte is the one the token section carries (and scales its tables by).
void WriteFrame(bool key, const std::vector<uint8_t>& tokens, const std::vector<uint8_t>* motion,
                uint16_t motionSize, uint8_t* out) {
    WriteFrameHeader({tokens[TokenSectionHeader::kQualityOffset], uint8_t(key ? 1 : 0), motionSize,
                      static_cast<uint32_t>(tokens.size())},
                     out);
    if (!key) std::memcpy(out + kFrameHeaderSize, motion->data(), motionSize);
    std::memcpy(out + kFrameHeaderSize + motionSize, tokens.data(), tokens.size());
}

}  // namespace

// What motion and the transform leave for the rate search: they run once per frame, attempts only
// re-quantise and re-code. The motion section does not depend on the quality, so it is coded once too.
struct CompressionSequence::Analysis {
    bool key = false;
    bool transformed = false;
    bool motionCoded = false;
    std::vector<uint8_t> motionSection;

    const std::vector<uint8_t>* Motion() const { return motionCoded ? &motionSection : nullptr; }
};

CompressionSequence::CompressionSequence() {
    InitResidualCoder(encoderCoder);
    InitResidualCoder(keyCoder);
    InitResidualCoder(reconstructionCoder);
}

int32_t CompressionSequence::Begin(int32_t width, int32_t height, int32_t bitCount,
                                   const CodecSettings& settings, bool twoWorkers, int8_t qualitySetting) {
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
    this->twoWorkers = twoWorkers;
    encMotionField.workers = twoWorkers ? &workers : nullptr;
    encMotionField.fastSearch = settings.fastSearch != 0 ? 1 : 0;
    encMotionField.subBlockSearch = settings.subBlockMotion != 0 ? 1 : 0;
    encMotionField.subBlockMotion = encMotionField.subBlockSearch;
    try {
        SizeFrameWork();
    } catch (const std::bad_alloc&) {
        End();
        return ICERR_MEMORY;
    }
    carriedQuality = qualitySetting;
    encCurrent = &encFrames[0];
    encReference = &encFrames[1];
    lastFrameNumber = 0;
    runningOvershoot = 0;
    needsKeyFrame = false;
    keyAlternativeGivenUp = false;
    open = true;
    return ICERR_OK;
}

// The buffers of frame work, sized and filled in once here: left to the first frames, their pages came in
// one by one on the caller's thread between stages, serial work worth several frames (a page's first touch
// is costly, on a virtual machine above all).
void CompressionSequence::SizeFrameWork() {
    for (YuvFrame& frame : encFrames) SizeConversionScratch(frame);
    static_cast<void>(SetupResidualCoder(encWidth, encoderCoder, kFrameBorder, encHeight));
    SizeFrameCoefficients(encoderCoder.coefficients, encWidth, encHeight);
    // keyCoder borrows encoderCoder's coefficients, and codes only beside a delta section.
    if (twoWorkers) static_cast<void>(SetupResidualCoder(encWidth, keyCoder, kFrameBorder, encHeight));
    if (encMotionField.fastSearch == 0)
        SizeBlockSums(encFrames[0].stride, encHeight, kFrameBorder, encMotionField.referenceSums);
}

void CompressionSequence::End() {
    for (YuvFrame& frame : encFrames) ReleaseFrame(frame);
    ReleaseDifferenceFrame(differenceFrame);
    encMotionField = MotionField{};
    ReleaseResidualCoder(encoderCoder);
    ReleaseResidualCoder(keyCoder);
    ReleaseResidualCoder(reconstructionCoder);
    frameAttempt = Attempt{};
    encCurrent = nullptr;
    encReference = nullptr;
    open = false;
}

int32_t CompressionSequence::Fail(const StatusSink& status) {
    needsKeyFrame = true;
    status.Report(ICSTATUS_END, 0);
    return ICERR_INTERNAL;
}

bool CompressionSequence::Accepts(const ICCOMPRESS& record) const {
    if (!open || record.lpbiInput == nullptr || record.lpInput == nullptr || record.lpbiOutput == nullptr ||
        record.lpOutput == nullptr)
        return false;
    const BITMAPINFOHEADER& input = *record.lpbiInput;
    return input.biWidth == encWidth && Magnitude(input.biHeight) == encHeight &&
           input.biBitCount == encBitCount;
}

// A new frame number: the last reconstruction becomes the reference. The same number again codes a new
// picture against the same reference.
void CompressionSequence::AdvanceReference(LONG frameNumber) {
    if (frameNumber == lastFrameNumber) return;
    std::swap(encCurrent, encReference);
    ExtendBorders(*encReference);
    lastFrameNumber = frameNumber;
    CarryMotionVectors(encMotionField);
}

void CompressionSequence::PrepareInput(const ICCOMPRESS& record, const FrameOptions& options) {
    ConvertInput(record, encWidth, encHeight, encBitCount, *encCurrent, twoWorkers ? &workers : nullptr);
    if (options.prefilterStrength != 0)
        PrefilterFrame(*encCurrent, options.prefilterStrength, options.prefilterIterations);
}

CompressionSequence::Analysis CompressionSequence::Analyse(bool key) {
    Analysis analysis;
    keyCoderLoaded = false;
    ForgetCodedSections(keyCoder);  // only this frame's sections may stand for its reconstruction
    if (key) {
        analysis.transformed = LoadFrame(encoderCoder, *encCurrent, nullptr, nullptr);
    } else if (EstimateMotion(*encCurrent, encMotionField, *encReference, differenceFrame)) {
        // The motion section reads the vectors alone: it is coded beside the transform, not between stages.
        platform::BesideNextStage motionCoding(encoderCoder.workers, [&] {
            analysis.motionCoded = EncodeMotionSection(encMotionField, analysis.motionSection);
        });
        analysis.transformed = LoadFrame(encoderCoder, *encCurrent, &differenceFrame, encReference);
        motionCoding.Finish();
    }
    // A field the motion section cannot describe goes as a key frame.
    analysis.key = key || !analysis.motionCoded;
    return analysis;
}

// The key section of a delta frame, from keyCoder: the transform of a key frame is the intra half of a delta
// frame's, so keyCoder codes from encoderCoder's transform and the intra luma levels its delta section has
// just quantised, lent to it, and a section depends only on the coefficients, the quality and the token
// mode, so it comes out byte for byte as encoderCoder would code it.
PreparedSection CompressionSequence::PrepareKeyAlternative(platform::WorkerPair* rowWorkers) {
    keyCoder.workers = rowWorkers;
    keyCoder.quality = encoderCoder.quality;
    keyCoder.arithmeticTokens = encoderCoder.arithmeticTokens;
    return PrepareTokenSection(keyCoder, 1);
}

// Two workers write the delta section and the key alternative, in one of two ways. The key section is
// coded for nothing unless it is smaller, and its least size mostly shows early that it is not; but only
// once the delta frame's size is known, and where the key section is mostly coded in full the wait is lost
// time. Whether it was given up last time chooses, as the picture changes slowly: the results are the same.
void CompressionSequence::WriteBothSections(const std::vector<uint8_t>& motion, Attempt& attempt,
                                            bool& deltaCoded, bool& keyCoded) {
    const PreparedSection delta = PrepareTokenSection(encoderCoder, 0);
    if (!keyCoderLoaded) keyCoderLoaded = LoadKeyFrameFrom(keyCoder, encoderCoder);
    // Writing the delta section reads neither the transform nor the intra levels.
    const LentTransform lent(encoderCoder, keyCoder);
    SectionWriter deltaWriter(encoderCoder, delta, attempt.deltaSection);
    std::optional<SectionWriter> keyWriter;
    const auto prepareKey = [&](platform::WorkerPair* rowWorkers) {
        if (keyCoderLoaded)
            keyWriter.emplace(keyCoder, PrepareKeyAlternative(rowWorkers), attempt.keySection);
    };
    if (keyAlternativeGivenUp) {
        // Delta streams first, a stream each; the first worker done prepares the key section, then each
        // tokenises one of its streams. Only if their least sizes leave it a chance are they coded.
        platform::SharedStep keyPreparation;
        platform::RunHalves(&workers, [&](int half) {
            if (half == 0) {
                deltaWriter.TokeniseLuma();
                deltaWriter.CodeLuma();
            } else {
                deltaWriter.TokeniseChroma();
                deltaWriter.CodeChroma();
            }
            keyPreparation.Ensure([&] { prepareKey(nullptr); });
            if (!keyWriter) return;
            // The least sizes are worked out here too, beside the other half.
            if (half == 0) {
                keyWriter->TokeniseChroma();
                static_cast<void>(keyWriter->ChromaLeastSize());
            } else {
                keyWriter->TokeniseLuma();
                static_cast<void>(keyWriter->LumaLeastSize());
            }
        });
        deltaCoded = deltaWriter.Finish();
        if (keyWriter) {
            if (keyWriter->LeastSize() >= motion.size() + attempt.deltaSection.size()) keyWriter->GiveUp();
            keyWriter->WriteStreams(&workers);
        }
    } else {
        // Each worker writes one section whole; the key one is given up if the delta frame's size, once
        // known, shows it cannot win. Its rows are quantised first, by both: done by the key section's
        // worker alone, they made it the later one.
        prepareKey(&workers);
        std::atomic<size_t> deltaFrameSize{SIZE_MAX};
        platform::RunHalves(&workers, [&](int half) {
            if (half == 0) {
                deltaWriter.WriteAll(std::atomic<size_t>{SIZE_MAX});
                deltaCoded = deltaWriter.Finish();
                deltaFrameSize.store(motion.size() + attempt.deltaSection.size(), std::memory_order_relaxed);
                return;
            }
            if (keyWriter) keyWriter->WriteAll(deltaFrameSize);
        });
    }
    if (!keyWriter) {
        attempt.keySection.clear();
        keyCoded = false;
        return;
    }
    keyAlternativeGivenUp = keyWriter->GivenUp();
    keyCoded = keyWriter->Finish();
}

// A key section whenever a key frame is possible; the delta one unless the frame must be key. The smaller
// frame wins, a tie going to the delta frame. Either way the key section is left unfinished once it is sure
// not to come out smaller than the delta frame. The attempt's buffers are rewritten in place, so later
// attempts reuse them. False when the chosen section could not be coded. A section that failed is empty
// and is compared as such, so a failed key section is always chosen.
bool CompressionSequence::CodeAttempt(bool key, bool autoKeyInsert, const std::vector<uint8_t>* motion,
                                      Attempt& attempt) {
    attempt.key = key;
    bool keyCoded = false;
    bool deltaCoded = false;
    if (key) {
        keyCoded = EncodeTokenSection(encoderCoder, 1, attempt.keySection);
    } else if (autoKeyInsert && twoWorkers) {
        WriteBothSections(*motion, attempt, deltaCoded, keyCoded);
    } else {
        // The delta section first: the key one is left unfinished once it cannot come out smaller.
        deltaCoded = EncodeTokenSection(encoderCoder, 0, attempt.deltaSection);
        if (autoKeyInsert)
            keyCoded = EncodeTokenSection(encoderCoder, 1, attempt.keySection,
                                          motion->size() + attempt.deltaSection.size());
    }
    if (!key) {
        // An unfinished key section (coded, yet empty) cannot win.
        const bool keyCompetes = autoKeyInsert && !(keyCoded && attempt.keySection.empty());
        const uint32_t keySize =
            keyCompetes ? static_cast<uint32_t>(attempt.keySection.size()) : kNoKeySection;
        attempt.key = keySize < static_cast<uint32_t>(motion->size() + attempt.deltaSection.size());
    }
    attempt.motionSize = attempt.key ? 0 : static_cast<uint16_t>(motion->size());
    attempt.total = kFrameHeaderSize + attempt.motionSize + uint64_t{attempt.Tokens().size()};
    return attempt.key ? keyCoded : deltaCoded;
}

// Rate control: every attempt overwrites the frame in the host's buffer; the last one stands. False when
// no attempt could be coded into the buffer.
bool CompressionSequence::SearchRate(ICCOMPRESS& record, int8_t qualitySetting, const FrameOptions& options,
                                     const Analysis& analysis, Attempt& written) {
    auto* out = static_cast<uint8_t*>(record.lpOutput);
    const uint64_t capacity = MaxFrameBytes(uint32_t(encWidth), uint32_t(encHeight));
    const int32_t target = record.dwFrameSize != 0
                               ? static_cast<int32_t>(std::min<DWORD>(record.dwFrameSize, INT32_MAX))
                               : options.defaultFrameSize;
    RateSearch search = StartRateSearch(target, carriedQuality, qualitySetting);
    for (bool anotherAttempt = true; anotherAttempt;) {
        if (search.attempt > 0 && !analysis.key) ClearIntraFlags(encoderCoder);
        encoderCoder.quality = search.quality;
        options.status.Report(ICSTATUS_STATUS, kAttemptProgress);
        if (!CodeAttempt(analysis.key, options.autoKeyInsert == 1, analysis.Motion(), written)) return false;
        if (written.total > capacity) {
            // Never write past the buffer the host was told to provide: go lower instead.
            if (!ShrinkAfterOverflow(search)) return false;
            continue;
        }
        WriteFrame(written.key, written.Tokens(), analysis.Motion(), written.motionSize, out);
        anotherAttempt = JudgeAttempt(search, int64_t(written.total), runningOvershoot);
    }
    carriedQuality = static_cast<int8_t>(static_cast<uint8_t>(search.quality));
    if (record.dwFrameSize == 0)
        runningOvershoot =
            AccumulateOvershoot(runningOvershoot, int64_t(written.total), options.defaultFrameSize);
    return true;
}

// Decodes the frame just written, exactly as a decoder will: this is the next frame's reference.
bool CompressionSequence::Reconstruct(const uint8_t* frame, bool key, uint16_t motionSize, size_t tokenSize) {
    const uint8_t* frameEnd = frame + kFrameHeaderSize + motionSize + tokenSize;
    if (key) {
        ClearMotionVectors(encMotionField);
    } else if (!DecodeMotionSection(*encCurrent, *encReference, frame + kFrameHeaderSize, motionSize,
                                    encMotionField, frameEnd) ||
               !MayCompensate(encMotionField)) {
        return false;
    }
    // The coder of the chosen section still holds its levels, which its token streams decode to: reconstruct
    // from them, each row predicted just before its residual is added (decoding stays as the answer should a
    // coder not hold them).
    const uint8_t* tokens = frame + kFrameHeaderSize + motionSize;
    keyCoder.workers = encoderCoder.workers;  // the block rows are shared whichever coder holds them
    const std::function<void(uint32_t)> predictRow = [&](uint32_t row) {
        CompensateRow(encMotionField, row);
    };
    for (ResidualCoder* coder : {&encoderCoder, &keyCoder}) {
        if (ReconstructCodedSection(tokens, tokenSize, *coder, *encCurrent, key ? nullptr : &predictRow))
            return true;
    }
    if (!key && !CompensateMotion(encMotionField)) return false;
    return DecodeTokenSection(tokens, tokenSize, reconstructionCoder, *encCurrent);
}

int32_t CompressionSequence::Compress(ICCOMPRESS& record, int8_t& qualitySetting,
                                      const FrameOptions& options) {
    if (!Accepts(record)) return ICERR_BADFORMAT;
    bool started = false;
    try {
        AdvanceReference(record.lFrameNum);
        options.status.Report(ICSTATUS_START, 0);
        started = true;
        qualitySetting = static_cast<int8_t>(static_cast<uint8_t>(record.dwQuality / 100));
        PrepareInput(record, options);

        encoderCoder.workers = twoWorkers ? &workers : nullptr;
        encoderCoder.quality = qualitySetting;
        encoderCoder.arithmeticTokens = options.strongCompression != 0 ? 1 : 0;
        const Analysis analysis = Analyse(ForcedKeyFrame(record, needsKeyFrame));
        if (!analysis.transformed) return Fail(options.status);

        Attempt& written = frameAttempt;  // every attempt sets all of it before anything reads it
        if (!SearchRate(record, qualitySetting, options, analysis, written)) return Fail(options.status);
        ReportFrameKind(record, written.key);
        if (!Reconstruct(static_cast<const uint8_t*>(record.lpOutput), written.key, written.motionSize,
                         written.Tokens().size()))
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
