#include "libav_util.h"

#include <new>

#include "interruption.h"

namespace rq43::cli {

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

AvFramePtr NewFrame() {
    AvFramePtr frame(av_frame_alloc());
    if (!frame) throw std::bad_alloc();
    return frame;
}

AvPacketPtr NewPacket() {
    AvPacketPtr packet(av_packet_alloc());
    if (!packet) throw std::bad_alloc();
    return packet;
}

int OpenInput(AvInputPtr& input, const char* url, const AVInputFormat* format, AVIOContext* io) {
    av_log_set_level(AV_LOG_FATAL);  // failures are reported once, in our own words
    AVFormatContext* context = avformat_alloc_context();
    if (!context) throw std::bad_alloc();
    context->interrupt_callback = {InterruptCallback, nullptr};
    if (io) {
        context->pb = io;
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    int r = avformat_open_input(&context, url, format, nullptr);  // frees the context on failure
    if (r >= 0) input.reset(context);
    return r;
}

}  // namespace rq43::cli
