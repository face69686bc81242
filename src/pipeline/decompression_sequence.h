// The decompression sequence: Begin sizes two pictures for the host's output format, every decoded
// frame is predicted from the picture decoded just before it, and the picture is written in one of the
// four host formats. A frame is checked against the chunk it came in before anything is decoded, and
// it is decoded into the spare picture, so a refused frame leaves the last good picture (the reference
// of the next frame) and the host's output untouched.
#pragma once

#include <cstddef>
#include <cstdint>

#include "motion/motion_field.h"
#include "picture/yuv_frame.h"
#include "platform/vfw.h"
#include "residual/residual_coder.h"

namespace rq43 {

enum class OutputFormatCode : int32_t { None = -1, Uyvy = 0, Yuy2 = 1, Rgb24 = 2, Rgb32 = 3 };

// The output format a Begin header asks for; None for formats the sequence cannot write.
OutputFormatCode OutputFormatOf(const BITMAPINFOHEADER& output);

struct DecompressionSequence {
    int32_t decWidth = 0;
    int32_t decHeight = 0;
    int32_t decBitCount = 0;
    OutputFormatCode outputFormatCode = OutputFormatCode::None;
    YuvFrame decFrames[2];
    YuvFrame* decPrevious = nullptr;  // the last picture decoded: the reference of the next delta frame
    MotionField decMotionField;
    MotionField spareMotionField;  // a frame's motion is decoded here, kept only if the whole frame is
    // Decodes every frame's token section. Each section sets all of its state afresh, as the encoder's own
    // reconstruction coder does; kept so that its buffers are not allocated again for every frame.
    ResidualCoder decoderCoder;
    bool open = false;

    DecompressionSequence();

    // Opens the sequence for pictures of width x height (positive multiples of 16, as the driver's format
    // checks guarantee) written as `code` (not None). ICERR_OK, or ICERR_MEMORY when the pictures cannot be
    // had (the sequence is then closed). Resets the timing totals.
    int32_t Begin(int32_t width, int32_t height, OutputFormatCode code);

    // Decodes the compressed frame of `frameSize` bytes and writes it to `outputPixels`, laid out as
    // `output` says (it must be the format and size Begin accepted; only its orientation may change).
    // ICERR_BADFORMAT without an open sequence, for another output format or size, or for a damaged
    // frame; ICERR_MEMORY when a buffer cannot be had.
    int32_t DecodeFrame(const BITMAPINFOHEADER& output, const uint8_t* frame, size_t frameSize,
                        uint8_t* outputPixels);

    // Releases the pictures, the motion fields and the coder's buffers and closes the sequence.
    void Release();
    // Release, then the timing lines.
    void End();
};

// Process-wide time-stamp-counter totals of the decoders' three stages.
struct DecoderTiming {
    uint64_t motion = 0;
    uint64_t tokens = 0;
    uint64_t yuv = 0;
};
DecoderTiming DecoderTimingTotals();
void ResetDecoderTiming();
// One debugger line per total: name right-aligned in 16 characters, " : ", ticks / 1,500,000.
void ReportDecoderTiming();

}  // namespace rq43
