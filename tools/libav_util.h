// Small helpers around FFmpeg's C objects: owners that free them, and error text.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace rq43::cli {

std::string AvError(int code);

struct AvFrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct AvPacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AvCodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct AvInputDeleter {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameDeleter>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketDeleter>;
using AvCodecPtr = std::unique_ptr<AVCodecContext, AvCodecDeleter>;
using AvInputPtr = std::unique_ptr<AVFormatContext, AvInputDeleter>;

AvFramePtr NewFrame();
AvPacketPtr NewPacket();

// Opens `url` for reading (the demuxer `format` when given) with Ctrl-C able to cut a blocking read
// short; `io`, when given, is a custom reader the context does not own. Returns the error code.
int OpenInput(AvInputPtr& input, const char* url, const AVInputFormat* format, AVIOContext* io = nullptr);

}  // namespace rq43::cli
