#include "encoder.h"

#include <chrono>
#include <cstdio>

#include "avi.h"
#include "cli_errors.h"
#include "codec_host.h"
#include "progress.h"

namespace rq43::cli {
namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Removes the output file unless the run completes.
class OutputGuard {
public:
    explicit OutputGuard(std::string path) : path(std::move(path)) {}
    ~OutputGuard() {
        if (!done) std::remove(path.c_str());
    }
    void Keep() { done = true; }

private:
    std::string path;
    bool done = false;
};

}  // namespace

double EncodeReport::Kbps() const {
    if (frames == 0 || scale == 0) return 0;
    double duration = static_cast<double>(frames) * static_cast<double>(scale) / static_cast<double>(rate);
    return static_cast<double>(bytes) * 8 / duration / 1000;
}

EncodeReport EncodeVideo(VideoSource& source, const std::string& outputPath, const EncodeOptions& options,
                         const ReconstructionObserver& observer) {
    const SourceInfo& info = source.Info();
    EncodeReport report;
    report.format = options.inputFormat.value_or(info.closestFormat);
    FramePreparer preparer(info.width, info.height, report.format, options.fit);
    report.width = preparer.Width();
    report.height = preparer.Height();
    report.rate = info.rate;
    report.scale = info.scale;
    if (preparer.Resized()) {
        const bool crop = options.fit == FitMode::Crop;
        std::fprintf(stderr, "rq43 encode: %s %dx%d to %dx%d %s(the codec needs multiples of 16%s)\n",
                     crop ? "cropping" : "padding", info.width, info.height, report.width, report.height,
                     crop ? "" : "by repeating the edge pixels ", crop ? "" : "; --crop cuts instead");
    }

    CompressorSetup setup;
    setup.format = report.format;
    setup.width = report.width;
    setup.height = report.height;
    setup.rate = info.rate;
    setup.scale = info.scale;
    setup.quality = options.quality;
    setup.bitrateKbps = options.bitrateKbps;
    setup.frameSize = options.frameSize;
    setup.frameCount = info.frameCount;
    setup.keyInterval = options.keyInterval.value_or(Compressor::DefaultKeyInterval());
    setup.runSettings = options.runSettings;
    Compressor compressor(setup);

    std::optional<Decompressor> reconstructor;
    if (options.reconstruct) reconstructor.emplace(compressor.Format(), HostFormat::Uyvy);

    OutputGuard guard(outputPath);
    AviWriter avi(outputPath, compressor.Format(), info.rate, info.scale);
    ProgressLine progress(info.frameCount, static_cast<double>(info.rate) / static_cast<double>(info.scale));
    auto start = std::chrono::steady_clock::now();

    std::vector<uint8_t> host, decoded;
    Picture420 reference, reconstruction;
    if (reconstructor) decoded.resize(HostPictureBytes(HostFormat::Uyvy, report.width, report.height));
    while (const AVFrame* frame = source.Next()) {
        preparer.Prepare(*frame, host, reconstructor ? &reference : nullptr);
        bool requestKey = setup.keyInterval > 0 && report.frames % setup.keyInterval == 0;
        auto codecStart = std::chrono::steady_clock::now();
        CompressedFrame compressed = compressor.Compress(host.data(), requestKey);
        report.codecSeconds += SecondsSince(codecStart);
        avi.WriteFrame(compressed.data, compressed.size, compressed.key);
        if (reconstructor) {
            if (!reconstructor->Decode(compressed.data, compressed.size, decoded.data()))
                throw Failure("the codec cannot decode its own frame " + std::to_string(report.frames));
            UyvyToPicture420(decoded.data(), report.width, report.height, reconstruction);
            report.psnr.Add(reference, reconstruction);
            if (observer) observer(report.frames, reference, reconstruction);
        }
        ++report.frames;
        report.keyFrames += compressed.key ? 1 : 0;
        report.bytes += compressed.size;
        progress.Update(report.frames, report.bytes);
    }
    progress.Finish();
    if (report.frames == 0) throw FileFailure(info.name, "holds no pictures");
    avi.Finish();
    guard.Keep();
    report.seconds = SecondsSince(start);
    return report;
}

}  // namespace rq43::cli
