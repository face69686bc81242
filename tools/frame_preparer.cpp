#include "frame_preparer.h"

#include <algorithm>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "cli_errors.h"

namespace rq43::cli {
namespace {

AVPixelFormat AvFormat(HostFormat format) {
    switch (format) {
        case HostFormat::Rgb24:
            return AV_PIX_FMT_BGR24;  // BI_RGB keeps blue first
        case HostFormat::Rgb32:
            return AV_PIX_FMT_BGR0;
        case HostFormat::Yuy2:
            return AV_PIX_FMT_YUYV422;
        case HostFormat::Uyvy:
            return AV_PIX_FMT_UYVY422;
    }
    return AV_PIX_FMT_NONE;
}

int RoundUp16(int v) {
    return (v + 15) / 16 * 16;
}

}  // namespace

FramePreparer::FramePreparer(int sourceWidth, int sourceHeight, HostFormat format, FitMode mode)
    : sourceWidth(sourceWidth), sourceHeight(sourceHeight), format(format) {
    if (mode == FitMode::Crop) {
        width = sourceWidth / 16 * 16;
        height = sourceHeight / 16 * 16;
        if (width == 0 || height == 0)
            throw Failure("cannot crop " + std::to_string(sourceWidth) + "x" + std::to_string(sourceHeight) +
                          " to a multiple of 16: it is smaller than 16 on one side");
        // Even offsets keep the chroma samples of the source aligned.
        cropLeft = (sourceWidth - width) / 2 & ~1;
        cropTop = (sourceHeight - height) / 2 & ~1;
        visibleWidth = width;
        visibleHeight = height;
    } else {
        width = RoundUp16(sourceWidth);
        height = RoundUp16(sourceHeight);
        visibleWidth = sourceWidth;
        visibleHeight = sourceHeight;
    }
    hostFrame = av_frame_alloc();
    referenceFrame = av_frame_alloc();
    cropped = av_frame_alloc();
    if (!hostFrame || !referenceFrame || !cropped) throw std::bad_alloc();
}

FramePreparer::~FramePreparer() {
    sws_freeContext(hostScaler);
    sws_freeContext(referenceScaler);
    av_frame_free(&hostFrame);
    av_frame_free(&referenceFrame);
    av_frame_free(&cropped);
}

void FramePreparer::Convert(const AVFrame& source, int pixelFormat, int filter, SwsContext*& context,
                            uint8_t* const out[], const int outLinesize[]) {
    context =
        sws_getCachedContext(context, visibleWidth, visibleHeight, static_cast<AVPixelFormat>(source.format),
                             visibleWidth, visibleHeight, static_cast<AVPixelFormat>(pixelFormat),
                             filter | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr);
    if (!context) throw Failure("cannot convert the source's pixel format");
    sws_scale(context, source.data, source.linesize, 0, visibleHeight, out, outLinesize);
}

void FramePreparer::Convert(const AVFrame& source, int pixelFormat, int filter, SwsContext*& context,
                            AVFrame* out) {
    if (out->width != visibleWidth || out->format != pixelFormat) {
        av_frame_unref(out);
        out->format = pixelFormat;
        out->width = visibleWidth + 2;  // room for a half macropixel at an odd width
        out->height = visibleHeight;
        if (av_frame_get_buffer(out, 64) < 0) throw std::bad_alloc();
        out->width = visibleWidth;
    }
    Convert(source, pixelFormat, filter, context, out->data, out->linesize);
}

void FramePreparer::Prepare(const AVFrame& source, uint8_t* host, Picture420* reference) {
    const AVFrame* input = &source;
    if (cropLeft || cropTop || source.width != visibleWidth || source.height != visibleHeight) {
        av_frame_unref(cropped);
        if (av_frame_ref(cropped, &source) < 0) throw std::bad_alloc();
        cropped->crop_left = static_cast<size_t>(cropLeft);
        cropped->crop_top = static_cast<size_t>(cropTop);
        cropped->crop_right = static_cast<size_t>(source.width - cropLeft - visibleWidth);
        cropped->crop_bottom = static_cast<size_t>(source.height - cropTop - visibleHeight);
        if (av_frame_apply_cropping(cropped, AV_FRAME_CROP_UNALIGNED) < 0)
            throw Failure("cannot crop the source picture");
        input = cropped;
    }

    // Chroma that must be spread to more rows is repeated, not interpolated: the codec's own 4:2:2 output
    // repeats its rows, so repeating them here lets its decimation give back the source's samples.
    const size_t pitch = static_cast<size_t>(width) * static_cast<size_t>(BytesPerPixel(format));
    if (visibleWidth == width) {
        // Whole rows: converted straight into the host picture, without a copy in between.
        uint8_t* const rows[4] = {host, nullptr, nullptr, nullptr};
        const int linesizes[4] = {static_cast<int>(pitch), 0, 0, 0};
        Convert(*input, AvFormat(format), SWS_POINT, hostScaler, rows, linesizes);
    } else {
        Convert(*input, AvFormat(format), SWS_POINT, hostScaler, hostFrame);
        const size_t visibleBytes =
            static_cast<size_t>((visibleWidth + 1) / 2 * 2) * static_cast<size_t>(BytesPerPixel(format));
        for (int row = 0; row < visibleHeight; ++row)
            std::memcpy(&host[static_cast<size_t>(row) * pitch],
                        hostFrame->data[0] + static_cast<ptrdiff_t>(row) * hostFrame->linesize[0],
                        std::min(visibleBytes, pitch));
    }
    // Every byte is written (the rows, then the padding): a recycled picture needs no clearing.
    PadHost(host);

    if (reference) {
        Convert(*input, AV_PIX_FMT_YUV420P, SWS_BILINEAR, referenceScaler, referenceFrame);
        if (!reference->Holds(visibleWidth, visibleHeight)) reference->Allocate(visibleWidth, visibleHeight);
        av_image_copy_plane(reference->y.data(), visibleWidth, referenceFrame->data[0],
                            referenceFrame->linesize[0], visibleWidth, visibleHeight);
        av_image_copy_plane(reference->u.data(), reference->ChromaWidth(), referenceFrame->data[1],
                            referenceFrame->linesize[1], reference->ChromaWidth(), reference->ChromaHeight());
        av_image_copy_plane(reference->v.data(), reference->ChromaWidth(), referenceFrame->data[2],
                            referenceFrame->linesize[2], reference->ChromaWidth(), reference->ChromaHeight());
    }
}

// Edge replication: columns right of the visible picture repeat its last column, rows below it the last row.
void FramePreparer::PadHost(uint8_t* host) const {
    const size_t bpp = static_cast<size_t>(BytesPerPixel(format));
    const size_t pitch = static_cast<size_t>(width) * bpp;
    const bool packed422 = format == HostFormat::Yuy2 || format == HostFormat::Uyvy;
    const size_t lumaOffset = format == HostFormat::Uyvy ? 1 : 0;
    const int lastColumn = visibleWidth - 1;
    for (int row = 0; row < visibleHeight && visibleWidth < width; ++row) {
        uint8_t* line = &host[static_cast<size_t>(row) * pitch];
        if (!packed422) {
            for (int x = visibleWidth; x < width; ++x)
                std::memcpy(line + static_cast<size_t>(x) * bpp, line + static_cast<size_t>(lastColumn) * bpp,
                            bpp);
            continue;
        }
        const uint8_t luma = line[static_cast<size_t>(lastColumn) * 2 + lumaOffset];
        const size_t lastPair = static_cast<size_t>(lastColumn / 2) * 4;
        for (int pair = (visibleWidth + 1) / 2; pair < width / 2; ++pair)
            for (size_t c = 1 - lumaOffset; c < 4; c += 2)
                line[static_cast<size_t>(pair) * 4 + c] = line[lastPair + c];
        for (int x = visibleWidth; x < width; ++x) line[static_cast<size_t>(x) * 2 + lumaOffset] = luma;
    }
    for (int row = visibleHeight; row < height; ++row)
        std::memcpy(&host[static_cast<size_t>(row) * pitch],
                    &host[static_cast<size_t>(visibleHeight - 1) * pitch], pitch);
}

}  // namespace rq43::cli
