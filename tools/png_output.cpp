#include "png_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "cli_errors.h"

namespace rq43::cli {

void WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) throw Failure("this FFmpeg has no PNG encoder");
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    auto release = [&] {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    };
    if (!context || !frame || !packet) {
        release();
        throw std::bad_alloc();
    }
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = {1, 25};
    std::string error;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        error = "cannot start the PNG encoder";
    } else {
        frame->format = AV_PIX_FMT_RGB24;
        frame->width = width;
        frame->height = height;
        frame->data[0] = const_cast<uint8_t*>(rgb.data());
        frame->linesize[0] = 3 * width;
        if (avcodec_send_frame(context, frame) < 0 || avcodec_send_frame(context, nullptr) < 0 ||
            avcodec_receive_packet(context, packet) < 0) {
            error = "PNG encoding failed";
        } else {
            std::FILE* file = std::fopen(path.c_str(), "wb");
            if (!file) {
                error = std::strerror(errno);
            } else {
                bool ok = std::fwrite(packet->data, 1, static_cast<size_t>(packet->size), file) ==
                          static_cast<size_t>(packet->size);
                ok = std::fclose(file) == 0 && ok;
                if (!ok) error = "write failed";
            }
        }
    }
    release();
    if (!error.empty()) throw FileFailure(path, error);
}

std::vector<uint8_t> Picture420ToRgb(const Picture420& picture) {
    SwsContext* context =
        sws_getContext(picture.width, picture.height, AV_PIX_FMT_YUV420P, picture.width, picture.height,
                       AV_PIX_FMT_RGB24, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!context) throw Failure("cannot convert a picture to RGB");
    std::vector<uint8_t> rgb(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3 +
                             64);
    const uint8_t* planes[4] = {picture.y.data(), picture.u.data(), picture.v.data(), nullptr};
    const int strides[4] = {picture.width, picture.ChromaWidth(), picture.ChromaWidth(), 0};
    uint8_t* out[4] = {rgb.data(), nullptr, nullptr, nullptr};
    const int outStrides[4] = {3 * picture.width, 0, 0, 0};
    sws_scale(context, planes, strides, 0, picture.height, out, outStrides);
    sws_freeContext(context);
    rgb.resize(rgb.size() - 64);
    return rgb;
}

std::vector<uint8_t> BgrToRgb(const uint8_t* bgr, size_t pixels) {
    std::vector<uint8_t> rgb(pixels * 3);
    for (size_t i = 0; i < pixels; ++i) {
        rgb[3 * i] = bgr[3 * i + 2];
        rgb[3 * i + 1] = bgr[3 * i + 1];
        rgb[3 * i + 2] = bgr[3 * i];
    }
    return rgb;
}

}  // namespace rq43::cli
