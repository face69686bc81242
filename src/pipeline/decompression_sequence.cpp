#include "pipeline/decompression_sequence.h"

#include <atomic>
#include <cstdio>
#include <new>
#include <utility>

#include "motion/motion_compensation.h"
#include "motion/motion_section.h"
#include "picture/output_conversion.h"
#include "pipeline/frame_header.h"
#include "platform/debug_output.h"
#include "platform/processor.h"
#include "residual/token_section.h"

namespace rq43 {
namespace {

constexpr int32_t kFrameBorder = 16;
constexpr double kTicksToReported = 1.0 / 1500000.0;

// Shared by every instance of the process, as the timing lines report the process's decoding.
std::atomic<uint64_t> tDecMotionTotal{0};
std::atomic<uint64_t> tDecTokensTotal{0};
std::atomic<uint64_t> tDecYUVTotal{0};

// Adds the ticks of one stage to its total when it goes out of scope.
class StageTimer {
  public:
    explicit StageTimer(std::atomic<uint64_t>& total)
        : total(total), start(platform::ReadTimeStampCounter()) {}
    ~StageTimer() { total.fetch_add(platform::ReadTimeStampCounter() - start, std::memory_order_relaxed); }
    StageTimer(const StageTimer&) = delete;
    StageTimer& operator=(const StageTimer&) = delete;

  private:
    std::atomic<uint64_t>& total;
    uint64_t start;
};

int32_t Magnitude(int32_t value) {
    return value < 0 ? -value : value;
}

// YUY2 and UYVY are top-down whatever the sign of the height (the input side reads them so);
// RGB is bottom-up for a positive height.
void WriteOutput(const YuvFrame& picture, OutputFormatCode code, bool upright, int32_t width, int32_t height,
                 uint8_t* pixels) {
    const ptrdiff_t w = width;
    const ptrdiff_t lastRow = ptrdiff_t(height) - 1;
    switch (code) {
        case OutputFormatCode::Uyvy:
            ConvertYuvToUyvy(pixels + 2 * w * lastRow, picture, -2 * w);
            break;
        case OutputFormatCode::Yuy2:
            ConvertYuvToYuy2(pixels + 2 * w * lastRow, picture, -2 * w);
            break;
        case OutputFormatCode::Rgb24:
        case OutputFormatCode::Rgb32: {
            const int32_t bytes = code == OutputFormatCode::Rgb24 ? 3 : 4;
            if (upright)
                ConvertYuvToRgb(picture, pixels, bytes, bytes * w);
            else
                ConvertYuvToRgb(picture, pixels + bytes * w * lastRow, bytes, -bytes * w);
            break;
        }
        case OutputFormatCode::None:
            break;
    }
}

}  // namespace

OutputFormatCode OutputFormatOf(const BITMAPINFOHEADER& output) {
    if (output.biCompression == BI_RGB && output.biBitCount == 32) return OutputFormatCode::Rgb32;
    if (output.biCompression == BI_RGB && output.biBitCount == 24) return OutputFormatCode::Rgb24;
    if (output.biCompression == FOURCC_YUY2 && output.biBitCount == 16) return OutputFormatCode::Yuy2;
    if (output.biCompression == FOURCC_UYVY && output.biBitCount == 16) return OutputFormatCode::Uyvy;
    return OutputFormatCode::None;
}

DecompressionSequence::DecompressionSequence() {
    InitResidualCoder(decoderCoder);
}

int32_t DecompressionSequence::Begin(int32_t width, int32_t height, OutputFormatCode code) {
    open = false;
    decWidth = width;
    decHeight = height;
    decBitCount = code == OutputFormatCode::Rgb32 ? 32 : code == OutputFormatCode::Rgb24 ? 24 : 16;
    try {
        for (YuvFrame& frame : decFrames)
            AllocateFrame(frame, uint32_t(decWidth), uint32_t(decHeight), kFrameBorder);
        AllocateMotionField(decMotionField, uint32_t(decWidth), uint32_t(decHeight), kFrameBorder);
        spareMotionField = decMotionField;
    } catch (const std::bad_alloc&) {
        Release();
        return ICERR_MEMORY;
    }
    decPrevious = &decFrames[0];
    outputFormatCode = code;
    ResetDecoderTiming();
    open = true;
    return ICERR_OK;
}

int32_t DecompressionSequence::DecodeFrame(const BITMAPINFOHEADER& output, const uint8_t* frame,
                                           size_t frameSize, uint8_t* outputPixels) {
    if (!open || frame == nullptr || outputPixels == nullptr) return ICERR_BADFORMAT;
    if (output.biWidth != decWidth || Magnitude(output.biHeight) != decHeight ||
        OutputFormatOf(output) != outputFormatCode)
        return ICERR_BADFORMAT;
    FrameHeader header;
    if (!ReadCheckedFrameHeader(frame, frameSize, &header)) return ICERR_BADFORMAT;
    const uint8_t* frameEnd = frame + kFrameHeaderSize + header.motionSize + header.tokenSize;
    const uint8_t* tokens = frame + kFrameHeaderSize + header.motionSize;

    YuvFrame& previous = *decPrevious;
    YuvFrame& picture = decPrevious == &decFrames[0] ? decFrames[1] : decFrames[0];
    try {
        spareMotionField = decMotionField;
        {
            StageTimer timer(tDecMotionTotal);
            if (header.keyFrame == 0) {
                ExtendBorders(previous);
                CarryMotionVectors(spareMotionField);
                if (!DecodeMotionSection(picture, previous, frame + kFrameHeaderSize, header.motionSize,
                                         spareMotionField, frameEnd) ||
                    !CompensateMotion(spareMotionField))
                    return ICERR_BADFORMAT;
            } else {
                ClearMotionVectors(spareMotionField);
            }
        }
        {
            StageTimer timer(tDecTokensTotal);
            if (!DecodeTokenSection(tokens, header.tokenSize, decoderCoder, picture)) return ICERR_BADFORMAT;
        }
        {
            StageTimer timer(tDecYUVTotal);
            WriteOutput(picture, outputFormatCode, output.biHeight > 0, decWidth, decHeight, outputPixels);
        }
    } catch (const std::bad_alloc&) {
        return ICERR_MEMORY;
    }
    // Only a frame decoded in full becomes the reference of the next one.
    std::swap(decMotionField, spareMotionField);
    decPrevious = &picture;
    return ICERR_OK;
}

void DecompressionSequence::Release() {
    for (YuvFrame& frame : decFrames) ReleaseFrame(frame);
    decMotionField = MotionField{};
    spareMotionField = MotionField{};
    ReleaseResidualCoder(decoderCoder);
    decPrevious = nullptr;
    open = false;
}

void DecompressionSequence::End() {
    Release();
    ReportDecoderTiming();
}

DecoderTiming DecoderTimingTotals() {
    return {tDecMotionTotal.load(), tDecTokensTotal.load(), tDecYUVTotal.load()};
}

void ResetDecoderTiming() {
    tDecMotionTotal.store(0);
    tDecTokensTotal.store(0);
    tDecYUVTotal.store(0);
}

void ReportDecoderTiming() {
    const std::pair<const char*, uint64_t> totals[] = {{"tDecMotionTotal", tDecMotionTotal.load()},
                                                       {"tDecTokensTotal", tDecTokensTotal.load()},
                                                       {"tDecYUVTotal", tDecYUVTotal.load()}};
    for (const auto& [name, ticks] : totals) {
        char line[96];
        std::snprintf(line, sizeof line, "%16s : %5.4f\n", name,
                      static_cast<double>(ticks) * kTicksToReported);
        platform::OutputDebugText(line);
    }
}

}  // namespace rq43
