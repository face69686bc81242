#include "video_output.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "audio_track.h"
#include "cli_errors.h"
#include "frame_md5.h"
#include "libav_util.h"
#include "png_output.h"
#include "replacement_file.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/rational.h>
}

namespace rq43::cli {
namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Standard output, or a file written beside its path and renamed into place at Close.
class OutputFile {
  public:
    explicit OutputFile(const std::string& name) : path(name == "-" ? "standard output" : name) {
        if (name == "-") {
            file = stdout;
            return;
        }
        replacement = std::make_unique<ReplacementFile>(name);
        file = std::fopen(replacement->TemporaryPath().c_str(), "wb");
        if (!file) throw FileFailure(path, std::strerror(errno));
    }
    ~OutputFile() {
        if (file && file != stdout) std::fclose(file);
    }
    void Write(const void* data, size_t size) {
        if (std::fwrite(data, 1, size, file) != size) throw FileFailure(path, "write failed");
    }
    void Close() {
        bool ok = file == stdout ? std::fflush(file) == 0 : std::fclose(file) == 0;
        if (file != stdout) file = nullptr;
        if (!ok) throw FileFailure(path, "write failed");
        if (replacement) replacement->Commit();
    }
    std::FILE* file;
    std::string path;

  private:
    std::unique_ptr<ReplacementFile> replacement;
};

// 4:2:0 pictures through one of libavformat's muxers, as `codec`: framemd5 and most containers take raw
// pictures, others FFV1; a container may carry the input's sound too.
class MuxerSink final : public FrameSink {
  public:
    MuxerSink(const AVOutputFormat& muxer, AVCodecID codec, const std::string& path, int width, int height,
              uint32_t rate, uint32_t scale, std::unique_ptr<AudioTrack> audio = nullptr)
        : path(path == "-" ? "standard output" : path),
          width(width),
          height(height),
          audio(std::move(audio)),
          packet(NewPacket()) {
        if (path != "-") replacement = std::make_unique<ReplacementFile>(path);
        const std::string url = replacement ? replacement->TemporaryPath() : "pipe:1";
        Check(avformat_alloc_output_context2(&output, &muxer, nullptr, url.c_str()),
              "cannot set up the muxer");
        AVStream* stream = avformat_new_stream(output, nullptr);
        if (!stream) throw std::bad_alloc();
        frameDuration = {static_cast<int>(scale), static_cast<int>(rate)};
        stream->time_base = frameDuration;
        stream->avg_frame_rate = stream->r_frame_rate = av_inv_q(frameDuration);
        stream->sample_aspect_ratio = {1, 1};
        AVCodecParameters& p = *stream->codecpar;
        p.codec_type = AVMEDIA_TYPE_VIDEO;
        p.codec_id = codec;
        p.width = width;
        p.height = height;
        p.format = AV_PIX_FMT_YUV420P;
        if (codec == AV_CODEC_ID_RAWVIDEO) p.codec_tag = avcodec_pix_fmt_to_codec_tag(AV_PIX_FMT_YUV420P);
        if (codec != AV_CODEC_ID_RAWVIDEO) OpenEncoder(codec, p, muxer);
        p.sample_aspect_ratio = {1, 1};
        p.field_order = AV_FIELD_PROGRESSIVE;
        // The codec's chroma samples sit centred between luma samples in both directions.
        p.chroma_location = AVCHROMA_LOC_CENTER;
        if (this->audio) this->audio->AddStream(*output);
        Check(avio_open2(&output->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), "cannot open");
        Check(avformat_write_header(output, nullptr), "cannot write the header");
        videoTimeBase = stream->time_base;
    }
    ~MuxerSink() override {
        if (!output) return;
        avio_closep(&output->pb);
        avformat_free_context(output);
    }
    HostFormat DecodeFormat() const override { return HostFormat::Uyvy; }
    void Write(int64_t index, const uint8_t* picture) override {
        if (!encoder) {
            // Straight into the packet: a picture is large, and every copy of it costs a frame's time.
            const size_t lumaBytes = static_cast<size_t>(width) * static_cast<size_t>(height);
            const size_t chromaBytes =
                static_cast<size_t>((width + 1) / 2) * static_cast<size_t>((height + 1) / 2);
            if (av_new_packet(packet.get(), static_cast<int>(lumaBytes + 2 * chromaBytes)) < 0)
                throw std::bad_alloc();
            uint8_t* y = packet->data;
            UyvyToPlanes(picture, width, height, y, y + lumaBytes, y + lumaBytes + chromaBytes);
            packet->pts = index;
            packet->duration = 1;
            WriteVideo();
            return;
        }
        UyvyToPicture420(picture, width, height, planes);
        av_frame_unref(frame.get());
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = width;
        frame->height = height;
        if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
        const std::vector<uint8_t>* sources[3] = {&planes.y, &planes.u, &planes.v};
        for (int p = 0; p < 3; ++p) {
            const int w = p ? planes.ChromaWidth() : width, h = p ? planes.ChromaHeight() : height;
            av_image_copy_plane(frame->data[p], frame->linesize[p], sources[p]->data(), w, w, h);
        }
        frame->pts = index;
        Check(avcodec_send_frame(encoder.get(), frame.get()), "write failed");
        DrainEncoder();
    }
    void WriteAudio(const AVPacket& in) override {
        for (AvPacketPtr& p : audio->Take(in))
            Check(av_interleaved_write_frame(output, p.get()), "write failed");
    }
    bool Finish() override {
        if (encoder) {
            Check(avcodec_send_frame(encoder.get(), nullptr), "write failed");
            DrainEncoder();
        }
        if (audio)
            for (AvPacketPtr& p : audio->Flush())
                Check(av_interleaved_write_frame(output, p.get()), "write failed");
        Check(av_write_trailer(output), "write failed");
        Check(avio_closep(&output->pb), "write failed");
        if (replacement) replacement->Commit();
        return true;
    }

  private:
    void Check(int result, const char* what) {
        if (result < 0) throw FileFailure(path, std::string(what) + " (" + AvError(result) + ")");
    }
    void OpenEncoder(AVCodecID codec, AVCodecParameters& p, const AVOutputFormat& muxer) {
        const AVCodec* found = avcodec_find_encoder(codec);
        if (!found) throw FileFailure(path, std::string("no encoder for ") + avcodec_get_name(codec));
        encoder.reset(avcodec_alloc_context3(found));
        if (!encoder) throw std::bad_alloc();
        encoder->width = width;
        encoder->height = height;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = frameDuration;
        if (muxer.flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        Check(avcodec_open2(encoder.get(), found, nullptr), "cannot set up the pictures' encoder");
        Check(avcodec_parameters_from_context(&p, encoder.get()), "cannot set up the pictures' encoder");
        frame = NewFrame();
    }
    void DrainEncoder() {
        for (;;) {
            const int r = avcodec_receive_packet(encoder.get(), packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
            Check(r, "write failed");
            packet->duration = 1;
            WriteVideo();
        }
    }
    // `packet`, timed in frames, into the muxer.
    void WriteVideo() {
        packet->stream_index = 0;
        packet->dts = packet->pts;
        av_packet_rescale_ts(packet.get(), frameDuration, videoTimeBase);
        Check(av_interleaved_write_frame(output, packet.get()), "write failed");
    }

    std::string path;
    int width, height;
    std::unique_ptr<AudioTrack> audio;
    std::unique_ptr<ReplacementFile> replacement;
    AVFormatContext* output = nullptr;
    AvCodecPtr encoder;
    AvFramePtr frame;
    AvPacketPtr packet;
    AVRational videoTimeBase{}, frameDuration{};
    Picture420 planes;
};

// The y4m stream header libavformat's muxer writes for these pictures: progressive, square pixels, chroma
// centred, the rate reduced.
std::string Y4mStreamHeader(int width, int height, uint32_t rate, uint32_t scale) {
    int num = 0, den = 0;
    av_reduce(&num, &den, rate, scale, INT32_MAX);
    return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" +
           std::to_string(num) + ":" + std::to_string(den) + " Ip A1:1 C420jpeg XYSCSS=420JPEG\n";
}

// 4:2:0 planes one picture after another: raw, or as y4m behind its stream header and a marker per
// picture. y4m is written here rather than through the muxer, which copies every picture twice more (into
// a fresh frame, then into its own buffer) and allocates that frame anew each time: at a fast decode's
// speed the copies cost about a tenth of a frame's decoding.
class PlanarSink final : public FrameSink {
  public:
    PlanarSink(const std::string& path, int width, int height, const std::string& streamHeader = "",
               std::string pictureMarker = "")
        : out(path), width(width), height(height), marker(std::move(pictureMarker)) {
        if (!streamHeader.empty()) out.Write(streamHeader.data(), streamHeader.size());
    }
    HostFormat DecodeFormat() const override { return HostFormat::Uyvy; }
    void Write(int64_t, const uint8_t* picture) override {
        UyvyToPicture420(picture, width, height, planes);
        if (!marker.empty()) out.Write(marker.data(), marker.size());
        out.Write(planes.y.data(), planes.y.size());
        out.Write(planes.u.data(), planes.u.size());
        out.Write(planes.v.data(), planes.v.size());
    }
    bool Finish() override {
        out.Close();
        return true;
    }

  private:
    OutputFile out;
    int width, height;
    std::string marker;
    Picture420 planes;
};

class RawSink final : public FrameSink {
  public:
    RawSink(const OutputTarget& target, int width, int height)
        : out(target.path), format(target.rawFormat), bytes(HostPictureBytes(format, width, height)) {}
    HostFormat DecodeFormat() const override { return format; }
    void Write(int64_t, const uint8_t* picture) override { out.Write(picture, bytes); }
    bool Finish() override {
        out.Close();
        return true;
    }

  private:
    OutputFile out;
    HostFormat format;
    size_t bytes;
};

class PngSink final : public FrameSink {
  public:
    PngSink(const OutputTarget& target, int width, int height)
        : pattern(target.path), width(width), height(height) {}
    HostFormat DecodeFormat() const override { return HostFormat::Rgb24; }
    void Write(int64_t index, const uint8_t* picture) override {
        std::vector<char> name(pattern.size() + 32);
        std::snprintf(name.data(), name.size(), pattern.c_str(), static_cast<int>(index));
        WritePng(name.data(), width, height,
                 BgrToRgb(picture, static_cast<size_t>(width) * static_cast<size_t>(height)));
    }

  private:
    std::string pattern;
    int width, height;
};

class Md5Sink final : public FrameSink {
  public:
    Md5Sink(int width, int height) : width(width), height(height) {}
    HostFormat DecodeFormat() const override { return HostFormat::Uyvy; }
    void Write(int64_t index, const uint8_t* picture) override {
        UyvyToPicture420(picture, width, height, planes);
        std::printf("%6lld %s\n", static_cast<long long>(index), FrameMd5(planes).c_str());
    }
    bool Finish() override {
        if (std::fflush(stdout) != 0) throw Failure("standard output: write failed");
        return true;
    }

  private:
    int width, height;
    Picture420 planes;
};

// One MD5 over every decoded picture's planes, in order (what md5sum of the .yuv output gives).
class VerifySink final : public FrameSink {
  public:
    VerifySink(std::string expected, int width, int height)
        : expected(std::move(expected)), width(width), height(height) {}
    HostFormat DecodeFormat() const override { return HostFormat::Uyvy; }
    void Write(int64_t, const uint8_t* picture) override {
        UyvyToPicture420(picture, width, height, planes);
        for (const auto* plane : {&planes.y, &planes.u, &planes.v}) md5.Add(plane->data(), plane->size());
    }
    bool Finish() override {
        const std::string got = md5.Finish();
        if (got == expected) {
            std::printf("MD5 %s ok\n", got.c_str());
            return true;
        }
        std::printf("MD5 %s differs from the expected %s\n", got.c_str(), expected.c_str());
        return false;
    }

  private:
    std::string expected;
    int width, height;
    Picture420 planes;
    Md5Sum md5;
};

// A printf pattern with exactly one integer conversion, and no other conversions.
bool IsFramePattern(const std::string& path) {
    int conversions = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%') continue;
        if (i + 1 < path.size() && path[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < path.size() && (std::isdigit(static_cast<unsigned char>(path[j])) || path[j] == '0')) ++j;
        if (j >= path.size() || path[j] != 'd') return false;
        ++conversions;
        i = j;
    }
    return conversions == 1;
}

// The pictures a container gets: raw 4:2:0 where its muxer takes them, else FFV1; both keep them exact.
AVCodecID ContainerVideoCodec(const AVOutputFormat& muxer) {
    for (const char* raw : {"avi", "matroska", "nut"})
        if (std::strcmp(muxer.name, raw) == 0) return AV_CODEC_ID_RAWVIDEO;
    if (std::strcmp(muxer.name, "mov") == 0) return AV_CODEC_ID_FFV1;  // it takes no raw 4:2:0
    return AV_CODEC_ID_NONE;
}

}  // namespace

OutputTarget ChooseOutput(const std::string& path, const std::string* format) {
    OutputTarget target;
    target.path = path;
    std::string name = format ? *format : "";
    if (name.empty()) {
        struct stat st {};
        if (path == "-" || EndsWith(path, ".y4m"))
            name = "y4m";
        else if (EndsWith(path, ".yuv"))
            name = "yuv";
        else if (EndsWith(path, ".png") || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
            name = "png";
        else if (const AVOutputFormat* muxer = av_guess_format(nullptr, path.c_str(), nullptr))
            name = muxer->name;
        else
            throw UsageError("cannot tell the output format from '" + path +
                             "'; name it .y4m, .yuv, .png, .avi, .mkv, .nut or .mov, or use --format");
    }
    if (name == "y4m") {
        target.kind = OutputKind::Y4m;
    } else if (name == "yuv") {
        target.kind = OutputKind::Yuv420;
    } else if (name == "png") {
        target.kind = OutputKind::Png;
        if (path == "-") throw UsageError("PNG pictures cannot go to standard output");
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            target.path = path + "/frame%04d.png";
        } else if (!IsFramePattern(path)) {
            if (path.find('%') != std::string::npos)
                throw UsageError("'" + path + "': a PNG pattern needs exactly one %d conversion");
            std::string stem = EndsWith(path, ".png") ? path.substr(0, path.size() - 4) : path;
            target.path = stem + "%04d.png";
        }
    } else if (auto raw = ParseHostFormat(name)) {
        target.kind = OutputKind::Raw;
        target.rawFormat = *raw;
    } else {
        const AVOutputFormat* muxer = av_guess_format(name.c_str(), nullptr, nullptr);
        if (!muxer) muxer = av_guess_format(nullptr, ("." + name).c_str(), nullptr);  // mkv
        if (!muxer)
            throw UsageError("unknown output format '" + name +
                             "' (y4m, yuv, uyvy, yuy2, rgb24, rgb32, png, avi, mkv, nut, mov)");
        if (ContainerVideoCodec(*muxer) == AV_CODEC_ID_NONE)
            throw UsageError("'" + path + "': " + muxer->name +
                             " takes neither raw 4:2:0 nor FFV1 pictures; name it .y4m, .yuv, .png, .avi, "
                             ".mkv, .nut or .mov, or use --format");
        if (path == "-") throw UsageError("a container goes to a file, not to standard output");
        target.kind = OutputKind::Container;
        target.container = muxer;
    }
    return target;
}

std::unique_ptr<FrameSink> OpenSink(const OutputTarget& target, int width, int height, uint32_t rate,
                                    uint32_t scale, std::unique_ptr<AudioTrack> audio) {
    switch (target.kind) {
        case OutputKind::Y4m:
            return std::make_unique<PlanarSink>(target.path, width, height,
                                                Y4mStreamHeader(width, height, rate, scale), "FRAME\n");
        case OutputKind::FrameMd5:
            return std::make_unique<MuxerSink>(*av_guess_format("framemd5", nullptr, nullptr),
                                               AV_CODEC_ID_RAWVIDEO, "-", width, height, rate, scale);
        case OutputKind::Container:
            return std::make_unique<MuxerSink>(*target.container, ContainerVideoCodec(*target.container),
                                               target.path, width, height, rate, scale, std::move(audio));
        case OutputKind::Verify:
            return std::make_unique<VerifySink>(target.expectedMd5, width, height);
        case OutputKind::Yuv420:
            return std::make_unique<PlanarSink>(target.path, width, height);
        case OutputKind::Raw:
            return std::make_unique<RawSink>(target, width, height);
        case OutputKind::Png:
            return std::make_unique<PngSink>(target, width, height);
        case OutputKind::Md5:
            return std::make_unique<Md5Sink>(width, height);
    }
    return nullptr;
}

}  // namespace rq43::cli
