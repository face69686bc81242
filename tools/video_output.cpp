#include "video_output.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli_errors.h"
#include "frame_md5.h"
#include "libav_util.h"
#include "png_output.h"
#include "replacement_file.h"

extern "C" {
#include <libavutil/imgutils.h>
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

// 4:2:0 pictures through one of libavformat's muxers: y4m (the frames wrapped whole, as its muxer
// wants them) or framemd5 (raw pictures, the bytes it hashes).
class MuxerSink final : public FrameSink {
  public:
    MuxerSink(const char* muxer, const std::string& path, int width, int height, uint32_t rate,
              uint32_t scale)
        : path(path == "-" ? "standard output" : path), width(width), height(height), packet(NewPacket()) {
        if (path != "-") replacement = std::make_unique<ReplacementFile>(path);
        const std::string url = replacement ? replacement->TemporaryPath() : "pipe:1";
        Check(avformat_alloc_output_context2(&output, nullptr, muxer, url.c_str()),
              "cannot set up the muxer");
        AVStream* stream = avformat_new_stream(output, nullptr);
        if (!stream) throw std::bad_alloc();
        const AVRational timeBase{static_cast<int>(scale), static_cast<int>(rate)};
        stream->time_base = timeBase;
        stream->avg_frame_rate = stream->r_frame_rate = av_inv_q(timeBase);
        stream->sample_aspect_ratio = {1, 1};
        AVCodecParameters& p = *stream->codecpar;
        p.codec_type = AVMEDIA_TYPE_VIDEO;
        p.width = width;
        p.height = height;
        p.format = AV_PIX_FMT_YUV420P;
        p.sample_aspect_ratio = {1, 1};
        p.field_order = AV_FIELD_PROGRESSIVE;
        // The codec's chroma samples sit centred between luma samples in both directions.
        p.chroma_location = AVCHROMA_LOC_CENTER;
        p.codec_id = std::string(muxer) == "framemd5" ? AV_CODEC_ID_RAWVIDEO : AV_CODEC_ID_WRAPPED_AVFRAME;
        if (p.codec_id == AV_CODEC_ID_WRAPPED_AVFRAME) {
            const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WRAPPED_AVFRAME);
            wrapper.reset(avcodec_alloc_context3(codec));
            if (!wrapper) throw std::bad_alloc();
            wrapper->width = width;
            wrapper->height = height;
            wrapper->pix_fmt = AV_PIX_FMT_YUV420P;
            wrapper->time_base = timeBase;
            Check(avcodec_open2(wrapper.get(), codec, nullptr), "cannot set up the y4m pictures");
            frame = NewFrame();
        }
        Check(avio_open2(&output->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), "cannot open");
        Check(avformat_write_header(output, nullptr), "cannot write the header");
        streamTimeBase = stream->time_base;
        frameDuration = timeBase;
    }
    ~MuxerSink() override {
        if (!output) return;
        avio_closep(&output->pb);
        avformat_free_context(output);
    }
    HostFormat DecodeFormat() const override { return HostFormat::Uyvy; }
    void Write(int64_t index, const uint8_t* picture) override {
        UyvyToPicture420(picture, width, height, planes);
        if (wrapper) {
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
            Check(avcodec_send_frame(wrapper.get(), frame.get()), "write failed");
            Check(avcodec_receive_packet(wrapper.get(), packet.get()), "write failed");
        } else {
            std::vector<uint8_t> bytes = ConcatenatePlanes(planes);
            if (av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) throw std::bad_alloc();
            std::memcpy(packet->data, bytes.data(), bytes.size());
        }
        packet->stream_index = 0;
        packet->pts = packet->dts = av_rescale_q(index, frameDuration, streamTimeBase);
        packet->duration = av_rescale_q(1, frameDuration, streamTimeBase);
        Check(av_write_frame(output, packet.get()), "write failed");
        av_packet_unref(packet.get());
    }
    bool Finish() override {
        Check(av_write_trailer(output), "write failed");
        Check(avio_closep(&output->pb), "write failed");
        if (replacement) replacement->Commit();
        return true;
    }

  private:
    void Check(int result, const char* what) {
        if (result < 0) throw FileFailure(path, std::string(what) + " (" + AvError(result) + ")");
    }
    std::string path;
    int width, height;
    std::unique_ptr<ReplacementFile> replacement;
    AVFormatContext* output = nullptr;
    AvCodecPtr wrapper;
    AvFramePtr frame;
    AvPacketPtr packet;
    AVRational streamTimeBase{}, frameDuration{};
    Picture420 planes;
};

class PlanarSink final : public FrameSink {
  public:
    PlanarSink(const OutputTarget& target, int width, int height)
        : out(target.path), width(width), height(height) {}
    HostFormat DecodeFormat() const override { return HostFormat::Uyvy; }
    void Write(int64_t, const uint8_t* picture) override {
        UyvyToPicture420(picture, width, height, planes);
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
        else
            throw UsageError("cannot tell the output format from '" + path +
                             "'; name it .y4m, .yuv or .png, or use --format");
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
        throw UsageError("unknown output format '" + name + "' (y4m, yuv, uyvy, yuy2, rgb24, rgb32, png)");
    }
    return target;
}

std::unique_ptr<FrameSink> OpenSink(const OutputTarget& target, int width, int height, uint32_t rate,
                                    uint32_t scale) {
    switch (target.kind) {
        case OutputKind::Y4m:
            return std::make_unique<MuxerSink>("yuv4mpegpipe", target.path, width, height, rate, scale);
        case OutputKind::FrameMd5:
            return std::make_unique<MuxerSink>("framemd5", "-", width, height, rate, scale);
        case OutputKind::Verify:
            return std::make_unique<VerifySink>(target.expectedMd5, width, height);
        case OutputKind::Yuv420:
            return std::make_unique<PlanarSink>(target, width, height);
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
