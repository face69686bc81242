#include "video_output.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "cli_errors.h"
#include "frame_md5.h"
#include "png_output.h"
#include "y4m.h"

namespace rq43::cli {
namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Standard output or a file opened for writing, closed (and checked) at Finish.
class OutputFile {
public:
    explicit OutputFile(const std::string& name) : path(name == "-" ? "standard output" : name) {
        if (name == "-") {
            file = stdout;
        } else {
            file = std::fopen(name.c_str(), "wb");
            if (!file) throw FileFailure(path, std::strerror(errno));
        }
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
    }
    std::FILE* file;
    std::string path;
};

class PlanarSink final : public FrameSink {
public:
    PlanarSink(const OutputTarget& target, int width, int height, uint32_t rate, uint32_t scale)
        : out(target.path), width(width), height(height) {
        if (target.kind == OutputKind::Y4m) y4m = std::make_unique<Y4mWriter>(out.file, out.path, width, height, rate, scale);
    }
    HostFormat DecodeFormat() const override { return HostFormat::Uyvy; }
    void Write(int64_t, const uint8_t* picture) override {
        UyvyToPicture420(picture, width, height, planes);
        if (y4m) {
            y4m->WriteFrame(planes);
        } else {
            out.Write(planes.y.data(), planes.y.size());
            out.Write(planes.u.data(), planes.u.size());
            out.Write(planes.v.data(), planes.v.size());
        }
    }
    void Finish() override { out.Close(); }

private:
    OutputFile out;
    std::unique_ptr<Y4mWriter> y4m;
    int width, height;
    Picture420 planes;
};

class RawSink final : public FrameSink {
public:
    RawSink(const OutputTarget& target, int width, int height)
        : out(target.path), format(target.rawFormat), bytes(HostPictureBytes(format, width, height)) {}
    HostFormat DecodeFormat() const override { return format; }
    void Write(int64_t, const uint8_t* picture) override { out.Write(picture, bytes); }
    void Finish() override { out.Close(); }

private:
    OutputFile out;
    HostFormat format;
    size_t bytes;
};

class PngSink final : public FrameSink {
public:
    PngSink(const OutputTarget& target, int width, int height) : pattern(target.path), width(width), height(height) {}
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
    void Finish() override {
        if (std::fflush(stdout) != 0) throw Failure("standard output: write failed");
    }

private:
    int width, height;
    Picture420 planes;
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

OutputTarget ChooseOutput(const std::string& path, const std::string* format, bool md5) {
    OutputTarget target;
    target.path = path;
    if (md5) {
        target.kind = OutputKind::Md5;
        return target;
    }
    std::string name = format ? *format : "";
    if (name.empty()) {
        struct stat st {};
        if (path == "-" || EndsWith(path, ".y4m")) name = "y4m";
        else if (EndsWith(path, ".yuv")) name = "yuv";
        else if (EndsWith(path, ".png") || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) name = "png";
        else throw UsageError("cannot tell the output format from '" + path + "'; name it .y4m, .yuv or .png, or use --format");
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
        case OutputKind::Yuv420: return std::make_unique<PlanarSink>(target, width, height, rate, scale);
        case OutputKind::Raw: return std::make_unique<RawSink>(target, width, height);
        case OutputKind::Png: return std::make_unique<PngSink>(target, width, height);
        case OutputKind::Md5: return std::make_unique<Md5Sink>(width, height);
    }
    return nullptr;
}

}  // namespace rq43::cli
