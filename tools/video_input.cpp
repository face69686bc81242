#include "video_input.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "cli_errors.h"
#include "y4m.h"

namespace rq43::cli {
namespace {

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

HostFormat ClosestFormat(AVPixelFormat format) {
    if (format == AV_PIX_FMT_YUYV422) return HostFormat::Yuy2;
    if (format == AV_PIX_FMT_UYVY422) return HostFormat::Uyvy;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc && (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)))
        return (desc->flags & AV_PIX_FMT_FLAG_ALPHA) ? HostFormat::Rgb32 : HostFormat::Rgb24;
    return HostFormat::Uyvy;
}

std::string PixelFormatName(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name ? name : "unknown";
}

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct DecoderDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct InputDeleter {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};

class Y4mSource final : public VideoSource {
public:
    Y4mSource(std::FILE* file, const std::string& name) : reader(file, name), frame(av_frame_alloc()) {
        const Y4mHeader& h = reader.Header();
        info.name = name;
        info.width = h.width;
        info.height = h.height;
        info.rate = h.rateNum;
        info.scale = h.rateDen;
        format = h.chroma == Y4mChroma::C420   ? AV_PIX_FMT_YUV420P
                 : h.chroma == Y4mChroma::C422 ? AV_PIX_FMT_YUV422P
                 : h.chroma == Y4mChroma::C444 ? AV_PIX_FMT_YUV444P
                                               : AV_PIX_FMT_GRAY8;
        info.closestFormat = HostFormat::Uyvy;
        info.pixelFormat = PixelFormatName(format);
    }
    const SourceInfo& Info() const override { return info; }
    const AVFrame* Next() override {
        if (!reader.ReadFrame(planes)) return nullptr;
        av_frame_unref(frame.get());
        frame->format = format;
        frame->width = info.width;
        frame->height = info.height;
        if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
        const uint8_t* src = planes.data();
        const int planeCount = format == AV_PIX_FMT_GRAY8 ? 1 : 3;
        for (int p = 0; p < planeCount; ++p) {
            int w = p == 0 ? info.width : AV_CEIL_RSHIFT(info.width, format == AV_PIX_FMT_YUV444P ? 0 : 1);
            int h = p == 0 ? info.height : AV_CEIL_RSHIFT(info.height, format == AV_PIX_FMT_YUV420P ? 1 : 0);
            av_image_copy_plane(frame->data[p], frame->linesize[p], src, w, w, h);
            src += static_cast<size_t>(w) * static_cast<size_t>(h);
        }
        return frame.get();
    }

private:
    Y4mReader reader;
    SourceInfo info;
    AVPixelFormat format;
    std::vector<uint8_t> planes;
    FramePtr frame;
};

class LibavSource final : public VideoSource {
public:
    explicit LibavSource(const std::string& path) : path(path), frame(av_frame_alloc()), packetHolder(av_packet_alloc()), packet(packetHolder.get()) {
        AVFormatContext* opened = nullptr;
        int r = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
        if (r < 0) throw FileFailure(path, "cannot open as video (" + AvError(r) + ")");
        inputHolder.reset(opened);
        input = opened;
        if ((r = avformat_find_stream_info(input, nullptr)) < 0)
            throw FileFailure(path, "cannot read stream information (" + AvError(r) + ")");
        const AVCodec* codec = nullptr;
        streamIndex = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (streamIndex == AVERROR_DECODER_NOT_FOUND) throw FileFailure(path, "no decoder for its video stream");
        if (streamIndex < 0) throw FileFailure(path, "no video stream");
        AVStream* stream = input->streams[streamIndex];
        decoderHolder.reset(avcodec_alloc_context3(codec));
        decoder = decoderHolder.get();
        if (!decoder) throw std::bad_alloc();
        avcodec_parameters_to_context(decoder, stream->codecpar);
        if ((r = avcodec_open2(decoder, codec, nullptr)) < 0)
            throw FileFailure(path, "cannot open its video decoder (" + AvError(r) + ")");

        info.name = path;
        info.width = decoder->width;
        info.height = decoder->height;
        if (info.width <= 0 || info.height <= 0) throw FileFailure(path, "video stream without a picture size");
        AVRational fps = av_guess_frame_rate(input, stream, nullptr);
        if (fps.num <= 0 || fps.den <= 0) fps = {25, 1};
        av_reduce(&fps.num, &fps.den, fps.num, fps.den, INT32_MAX);
        info.rate = static_cast<uint32_t>(fps.num);
        info.scale = static_cast<uint32_t>(fps.den);
        if (stream->nb_frames > 0) {
            info.frameCount = stream->nb_frames;
        } else if (stream->duration > 0) {
            info.frameCount = av_rescale_q(stream->duration, stream->time_base, av_inv_q(fps));
        } else if (input->duration > 0) {
            info.frameCount = av_rescale_q(input->duration, AV_TIME_BASE_Q, av_inv_q(fps));
        }
        info.closestFormat = ClosestFormat(decoder->pix_fmt);
        info.pixelFormat = PixelFormatName(decoder->pix_fmt);
    }
    const SourceInfo& Info() const override { return info; }
    const AVFrame* Next() override {
        for (;;) {
            int r = avcodec_receive_frame(decoder, frame.get());
            if (r == 0) {
                if (frame->width != info.width || frame->height != info.height)
                    throw FileFailure(path, "the picture size changes inside the stream");
                return frame.get();
            }
            if (r == AVERROR_EOF) return nullptr;
            if (r != AVERROR(EAGAIN)) throw FileFailure(path, "cannot decode a frame (" + AvError(r) + ")");
            if (flushed) return nullptr;
            r = av_read_frame(input, packet);
            if (r == AVERROR_EOF) {
                avcodec_send_packet(decoder, nullptr);
                flushed = true;
                continue;
            }
            if (r < 0) throw FileFailure(path, "read failed (" + AvError(r) + ")");
            if (packet->stream_index == streamIndex) {
                r = avcodec_send_packet(decoder, packet);
                if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_INVALIDDATA)
                    throw FileFailure(path, "cannot decode a frame (" + AvError(r) + ")");
            }
            av_packet_unref(packet);
        }
    }

private:
    std::string path;
    std::unique_ptr<AVFormatContext, InputDeleter> inputHolder;
    std::unique_ptr<AVCodecContext, DecoderDeleter> decoderHolder;
    AVFormatContext* input = nullptr;
    AVCodecContext* decoder = nullptr;
    int streamIndex = -1;
    bool flushed = false;
    SourceInfo info;
    FramePtr frame;
    std::unique_ptr<AVPacket, PacketDeleter> packetHolder;
    AVPacket* packet;
};

}  // namespace

std::unique_ptr<VideoSource> OpenVideoSource(const std::string& path) {
    if (path == "-") return std::make_unique<Y4mSource>(stdin, "standard input");
    struct stat st {};
    // Image-sequence patterns (frame%04d.png) name no single file; libavformat resolves them.
    if (path.find('%') == std::string::npos && stat(path.c_str(), &st) != 0)
        throw FileFailure(path, std::strerror(errno));
    av_log_set_level(AV_LOG_FATAL);  // failures are reported once, in our own words
    return std::make_unique<LibavSource>(path);
}

}  // namespace rq43::cli
