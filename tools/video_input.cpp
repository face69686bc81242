#include "video_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "audio_track.h"
#include "cli_errors.h"
#include "interruption.h"
#include "libav_util.h"
#include "picture_limits.h"

namespace rq43::cli {
namespace {

constexpr size_t kPeekBytes = 4096;  // more than any YUV4MPEG2 header line we accept

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

bool ParseUnsigned(std::string_view text, uint64_t& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// Standard input for libavformat: the bytes already peeked at, then the rest of the pipe.
class StdinReader {
  public:
    explicit StdinReader(std::vector<uint8_t> peeked) : peeked(std::move(peeked)) {
        buffer = static_cast<uint8_t*>(av_malloc(kBufferBytes));
        if (!buffer) throw std::bad_alloc();
        io = avio_alloc_context(buffer, kBufferBytes, 0, this, Read, nullptr, nullptr);
        if (!io) {
            av_free(buffer);
            throw std::bad_alloc();
        }
    }
    ~StdinReader() {
        if (io) av_freep(&io->buffer);
        avio_context_free(&io);
    }
    AVIOContext* Io() const { return io; }

  private:
    static constexpr int kBufferBytes = 1 << 16;
    static int Read(void* opaque, uint8_t* out, int size) {
        auto* self = static_cast<StdinReader*>(opaque);
        if (self->served < self->peeked.size()) {
            size_t n = std::min(self->peeked.size() - self->served, static_cast<size_t>(size));
            std::memcpy(out, self->peeked.data() + self->served, n);
            self->served += n;
            return static_cast<int>(n);
        }
        for (;;) {
            ssize_t n = read(STDIN_FILENO, out, static_cast<size_t>(size));
            if (n > 0) return static_cast<int>(n);
            if (n == 0) return AVERROR_EOF;
            if (errno != EINTR) return AVERROR(errno);
            if (InterruptRequested()) return AVERROR_EXIT;
        }
    }
    std::vector<uint8_t> peeked;
    size_t served = 0;
    uint8_t* buffer;
    AVIOContext* io;
};

// Reads up to kPeekBytes from the start of `fd` (stopping early at the end of the data).
std::vector<uint8_t> Peek(int fd, const std::string& name) {
    std::vector<uint8_t> bytes(kPeekBytes);
    size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + filled, bytes.size() - filled);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR && !InterruptRequested()) continue;
            if (errno == EINTR) throw Interruption("interrupted");
            throw FileFailure(name, std::strerror(errno));
        }
        filled += static_cast<size_t>(n);
        // A header line is all we need to see; a pipe need not fill the whole peek.
        if (std::find(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(filled), '\n') !=
            bytes.begin() + static_cast<ptrdiff_t>(filled))
            break;
    }
    bytes.resize(filled);
    return bytes;
}

class LibavSource final : public VideoSource {
  public:
    LibavSource(const std::string& path, std::unique_ptr<StdinReader> stdinReader)
        : stdinReader(std::move(stdinReader)), frame(NewFrame()), packet(NewPacket()) {
        const bool fromStdin = this->stdinReader != nullptr;
        const std::string name = fromStdin ? "standard input" : path;
        info.name = name;
        int r = OpenInput(inputHolder, fromStdin ? "pipe:" : path.c_str(), nullptr,
                          fromStdin ? this->stdinReader->Io() : nullptr);
        if (r == AVERROR_EXIT) throw Interruption("interrupted");
        if (r < 0) throw FileFailure(name, "cannot open as video (" + AvError(r) + ")");
        input = inputHolder.get();
        CheckStreamSizes();
        if ((r = avformat_find_stream_info(input, nullptr)) < 0)
            throw FileFailure(name, r == AVERROR_EXIT
                                        ? "interrupted"
                                        : "cannot read stream information (" + AvError(r) + ")");
        const AVCodec* codec = nullptr;
        streamIndex = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (streamIndex == AVERROR_DECODER_NOT_FOUND)
            throw FileFailure(name, "no decoder for its video stream");
        if (streamIndex < 0) throw FileFailure(name, "no video stream");
        AVStream* stream = input->streams[streamIndex];
        CheckPictureSize(stream->codecpar->width, stream->codecpar->height, name);
        decoderHolder.reset(avcodec_alloc_context3(codec));
        decoder = decoderHolder.get();
        if (!decoder) throw std::bad_alloc();
        avcodec_parameters_to_context(decoder, stream->codecpar);
        if ((r = avcodec_open2(decoder, codec, nullptr)) < 0)
            throw FileFailure(name, "cannot open its video decoder (" + AvError(r) + ")");

        info.width = decoder->width;
        info.height = decoder->height;
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

        audioIndex = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, streamIndex, nullptr, 0);
        for (unsigned i = 0; i < input->nb_streams; ++i)
            if (static_cast<int>(i) != streamIndex && static_cast<int>(i) != audioIndex)
                input->streams[i]->discard = AVDISCARD_ALL;
    }
    const SourceInfo& Info() const override { return info; }
    const AVStream* Audio() const override { return audioIndex >= 0 ? input->streams[audioIndex] : nullptr; }
    int64_t AudioStartTime() const override {
        return audioIndex < 0
                   ? 0
                   : cli::AudioStartTime(*input->streams[streamIndex], *input->streams[audioIndex]);
    }
    const AVFrame* Next() override {
        for (;;) {
            int r = avcodec_receive_frame(decoder, frame.get());
            if (r == 0) {
                if (frame->width != info.width || frame->height != info.height)
                    throw FileFailure(info.name, "the picture size changes inside the stream");
                return frame.get();
            }
            if (r == AVERROR_EOF) return nullptr;
            if (r != AVERROR(EAGAIN))
                throw FileFailure(info.name, "cannot decode a frame (" + AvError(r) + ")");
            if (flushed) return nullptr;
            r = av_read_frame(input, packet.get());
            if (r == AVERROR_EXIT || InterruptRequested()) throw Interruption("interrupted");
            if (r == AVERROR_EOF) {
                avcodec_send_packet(decoder, nullptr);
                flushed = true;
                continue;
            }
            if (r < 0) throw FileFailure(info.name, "read failed (" + AvError(r) + ")");
            if (packet->stream_index == streamIndex) {
                r = avcodec_send_packet(decoder, packet.get());
                if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_INVALIDDATA)
                    throw FileFailure(info.name, "cannot decode a frame (" + AvError(r) + ")");
            } else if (packet->stream_index == audioIndex && audioHandler) {
                audioHandler(*packet);
            }
            av_packet_unref(packet.get());
        }
    }

  private:
    // Sizes the demuxer read from headers, checked before the first packet of that size is read.
    void CheckStreamSizes() const {
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            const AVCodecParameters& p = *input->streams[i]->codecpar;
            if (p.codec_type == AVMEDIA_TYPE_VIDEO && p.width > 0 && p.height > 0)
                CheckPictureSize(p.width, p.height, info.name);
        }
    }

    std::unique_ptr<StdinReader> stdinReader;
    AvInputPtr inputHolder;
    AvCodecPtr decoderHolder;
    AVFormatContext* input = nullptr;
    AVCodecContext* decoder = nullptr;
    int streamIndex = -1;
    int audioIndex = -1;
    bool flushed = false;
    SourceInfo info;
    AvFramePtr frame;
    AvPacketPtr packet;
};

}  // namespace

void CheckY4mHeader(const uint8_t* start, size_t size, const std::string& name) {
    constexpr std::string_view kMagic = "YUV4MPEG2";
    std::string_view text(reinterpret_cast<const char*>(start), size);
    if (text.substr(0, kMagic.size()) != kMagic) return;
    text = text.substr(0, text.find('\n'));
    int64_t width = 0, height = 0;
    for (size_t pos = kMagic.size(); pos < text.size();) {
        size_t end = std::min(text.find(' ', pos), text.size());
        std::string_view word = text.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty()) continue;
        std::string_view value = word.substr(1);
        uint64_t n = 0;
        if (word[0] == 'W' || word[0] == 'H') {
            if (!ParseUnsigned(value, n) || n > INT32_MAX)
                throw FileFailure(name, "bad picture size in the YUV4MPEG2 header");
            (word[0] == 'W' ? width : height) = static_cast<int64_t>(n);
        } else if (word[0] == 'F') {
            size_t colon = value.find(':');
            uint64_t num = 0, den = 0;
            if (colon == std::string_view::npos || !ParseUnsigned(value.substr(0, colon), num) ||
                !ParseUnsigned(value.substr(colon + 1), den))
                throw FileFailure(name, "bad frame rate in the YUV4MPEG2 header");
            CheckFrameRate(num, den, name);
        }
    }
    CheckPictureSize(width, height, name);
}

std::unique_ptr<VideoSource> OpenVideoSource(const std::string& path) {
    if (path == "-") {
        std::vector<uint8_t> peeked = Peek(STDIN_FILENO, "standard input");
        CheckY4mHeader(peeked.data(), peeked.size(), "standard input");
        return std::make_unique<LibavSource>(path, std::make_unique<StdinReader>(std::move(peeked)));
    }
    // Image-sequence patterns (frame%04d.png) name no single file; libavformat resolves them.
    if (path.find('%') == std::string::npos) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) throw FileFailure(path, std::strerror(errno));
        if (S_ISREG(st.st_mode)) {
            int fd = open(path.c_str(), O_RDONLY);
            if (fd < 0) throw FileFailure(path, std::strerror(errno));
            std::vector<uint8_t> peeked;
            try {
                peeked = Peek(fd, path);
            } catch (...) {
                close(fd);
                throw;
            }
            close(fd);
            CheckY4mHeader(peeked.data(), peeked.size(), path);
        }
    }
    return std::make_unique<LibavSource>(path, nullptr);
}

}  // namespace rq43::cli
