#include "encoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "audio_track.h"
#include "avi.h"
#include "cli_errors.h"
#include "codec_host.h"
#include "host_picture_pool.h"
#include "interruption.h"
#include "platform/processor.h"
#include "progress.h"
#include "recycling_pool.h"
#include "replacement_file.h"
#include "run_pipeline.h"

namespace rq43::cli {
namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Pictures held between the reader and the codec instances: one instance needs none ahead; more need a
// group each, since the reader must pass a whole group before the next instance has work (the group
// behind the one being coded fills as the front one is written). Bounded so that long groups of large
// pictures cannot exhaust memory.
size_t BufferedFrames(int instances, int keyInterval, size_t pictureBytes) {
    constexpr size_t kBufferBytes = size_t{768} << 20;
    if (instances == 1) return 2;
    const size_t group = static_cast<size_t>(std::max(keyInterval, 1));
    return std::min(kBufferBytes / pictureBytes, static_cast<size_t>(instances) * group);
}

struct SourceFrame {
    int64_t index = 0;
    bool requestKey = false;
    uint8_t* host = nullptr;  // the run's, until compressed
    Picture420 reference;
};

struct CodedFrame {
    int64_t index = 0;
    std::vector<uint8_t> data;
    bool key = false;
    Picture420 reference, reconstruction;
    double codecSeconds = 0;
};

// The pictures of a run, each back in its pool once used: the host pictures once compressed, the others
// once written.
struct RunPictures {
    explicit RunPictures(size_t hostBytes) : hosts(hostBytes) {}
    HostPicturePool hosts;
    RecyclingPool<Picture420> references, reconstructions;
};

// What one instance does with a frame: compress it, and decode it again when reconstructing.
class FrameCoder {
  public:
    FrameCoder(std::unique_ptr<Compressor> compressor, const CompressorSetup& setup, bool reconstruct,
               RunPictures& pictures)
        : compressor(std::move(compressor)), pictures(&pictures), width(setup.width), height(setup.height) {
        if (!reconstruct) return;
        reconstructor = std::make_unique<Decompressor>(this->compressor->Format(), HostFormat::Uyvy);
        decoded.resize(HostPictureBytes(HostFormat::Uyvy, width, height));
    }
    CodedFrame operator()(SourceFrame& frame) {
        CodedFrame coded;
        coded.index = frame.index;
        auto start = std::chrono::steady_clock::now();
        CompressedFrame compressed = compressor->Compress(frame.host, frame.requestKey, frame.index);
        coded.codecSeconds = SecondsSince(start);
        pictures->hosts.Give(std::exchange(frame.host, nullptr));
        coded.data = std::move(compressed.bytes);
        coded.key = compressed.key;
        if (reconstructor) {
            if (!reconstructor->Decode(coded.data.data(), coded.data.size(), decoded.data()))
                throw Failure("the codec cannot decode its own frame " + std::to_string(frame.index));
            coded.reconstruction = pictures->reconstructions.Take();
            UyvyToPicture420(decoded.data(), width, height, coded.reconstruction);
            coded.reference = std::move(frame.reference);
        }
        return coded;
    }

  private:
    std::shared_ptr<Compressor> compressor;  // shared: std::function needs a copyable coder
    std::shared_ptr<Decompressor> reconstructor;
    RunPictures* pictures;
    int width, height;
    std::vector<uint8_t> decoded;
};

// While it lives, codec instances begun are told the machine has one processor, which is what makes
// an instance code on one thread instead of its pair of workers.
class OneWorkerPerInstance {
  public:
    OneWorkerPerInstance() { platform::OverrideProcessorCount(1); }
    ~OneWorkerPerInstance() { platform::OverrideProcessorCount(0); }
    OneWorkerPerInstance(const OneWorkerPerInstance&) = delete;
    OneWorkerPerInstance& operator=(const OneWorkerPerInstance&) = delete;
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
    // Nothing of the picture's size is allocated before a first picture shows that the input holds one.
    const AVFrame* frame = source.Next();
    if (!frame) throw FileFailure(info.name, "holds no pictures");

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
    // Without requested key frames the stream is one run, which one instance codes with both its workers.
    report.instances = setup.keyInterval > 0 ? std::max(1, options.threads) : 1;
    // Several instances keep the cores busy on their own; each instance's two workers would only
    // oversubscribe them, so each codes on one thread (the bytes are the same either way).
    std::optional<OneWorkerPerInstance> oneWorker;
    if (report.instances > 1) oneWorker.emplace();
    FirstInstance first(std::make_unique<Compressor>(setup));
    const BITMAPINFOHEADER format = first->Format();
    RunPictures pictures(HostPictureBytes(report.format, report.width, report.height));
    RunPipeline<SourceFrame, CodedFrame> pipeline(
        report.instances,
        BufferedFrames(report.instances, setup.keyInterval,
                       HostPictureBytes(report.format, report.width, report.height)),
        [&]() -> std::function<CodedFrame(SourceFrame&)> {
            auto mine = first.TakeOr([&] { return std::make_unique<Compressor>(setup); });
            return FrameCoder(std::move(mine), setup, options.reconstruct, pictures);
        });

    ReplacementFile file(outputPath);
    std::unique_ptr<AudioTrack> audio;
    if (options.audio && source.Audio()) {
        audio = std::make_unique<AudioTrack>(*source.Audio(), source.AudioStartTime(),
                                             *av_guess_format("avi", nullptr, nullptr), info.name);
        report.audio = audio->Description();
    }
    AviWriter avi(file.TemporaryPath(), outputPath, format, info.rate, info.scale, audio.get());
    if (audio) {
        source.OnAudio([&](const AVPacket& packet) {
            for (AvPacketPtr& p : audio->Take(packet)) avi.WriteAudio(*p);
        });
    }
    ProgressLine progress(info.frameCount, static_cast<double>(info.rate) / static_cast<double>(info.scale));
    auto start = std::chrono::steady_clock::now();

    auto write = [&](CodedFrame& coded) {
        avi.WriteFrame(coded.data.data(), coded.data.size(), coded.key);
        if (options.reconstruct) {
            report.psnr.Add(coded.reference, coded.reconstruction);
            if (observer) observer(coded.index, coded.reference, coded.reconstruction);
            pictures.references.Give(std::move(coded.reference));
            pictures.reconstructions.Give(std::move(coded.reconstruction));
        }
        ++report.frames;
        report.keyFrames += coded.key ? 1 : 0;
        report.bytes += coded.data.size();
        report.codecSeconds += coded.codecSeconds;
        progress.Update(report.frames, report.bytes);
    };
    for (int64_t index = 0; frame; ++index, frame = source.Next()) {
        if (InterruptRequested()) throw Interruption("interrupted");
        SourceFrame next;
        next.index = index;
        next.requestKey = setup.keyInterval > 0 && index % setup.keyInterval == 0;
        next.host = pictures.hosts.Take();
        if (options.reconstruct) next.reference = pictures.references.Take();
        preparer.Prepare(*frame, next.host, options.reconstruct ? &next.reference : nullptr);
        const bool startsRun = next.requestKey;
        pipeline.Add(std::move(next), startsRun, write);
    }
    pipeline.Finish(write);
    if (InterruptRequested()) throw Interruption("interrupted");
    progress.Finish();
    if (audio) {
        source.OnAudio({});
        for (AvPacketPtr& p : audio->Flush()) avi.WriteAudio(*p);
    }
    avi.Finish();
    file.Commit();
    report.seconds = SecondsSince(start);
    return report;
}

}  // namespace rq43::cli
