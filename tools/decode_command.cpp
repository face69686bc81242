#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "audio_track.h"
#include "avi.h"
#include "cli_errors.h"
#include "codec_host.h"
#include "commands.h"
#include "host_picture_pool.h"
#include "interruption.h"
#include "options.h"
#include "pipeline/frame_header.h"
#include "run_pipeline.h"
#include "video_output.h"

namespace rq43::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    {"format", "FMT",
     "y4m, yuv (raw 4:2:0), uyvy, yuy2, rgb24, rgb32 (raw), png, avi, mkv, nut or mov (default: by "
     "OUTPUT's name)"},
    {"no-audio", nullptr, "leave the input's sound out of an avi, mkv, nut or mov OUTPUT"},
    {"md5", nullptr, "print one MD5 per decoded picture (its 4:2:0 planes) instead of writing pictures"},
    {"framemd5", nullptr, "print FFmpeg's framemd5 lines of the decoded 4:2:0 pictures instead"},
    {"verify", "MD5", "compare the MD5 of all decoded 4:2:0 pictures with MD5; exit status 1 if it differs"},
    {"threads", "N", "codec instances decoding at once (default: the processor count)"},
};

constexpr const char* kHelp =
    "usage: rq43 decode [OPTIONS] INPUT.avi OUTPUT\n"
    "       rq43 decode --md5 | --framemd5 | --verify MD5 INPUT.avi\n"
    "\n"
    "Decompresses the RQ43 stream of INPUT.avi. OUTPUT is chosen by its name: NAME.y4m (4:2:0, the\n"
    "codec's planes exactly), NAME.yuv (raw 4:2:0), NAME.png or a pattern such as frame%04d.png (a PNG\n"
    "sequence), NAME.avi, NAME.mkv or NAME.nut (raw 4:2:0 pictures, I420), NAME.mov (FFV1, lossless:\n"
    "it takes no raw 4:2:0), or '-' for y4m on standard output; --format names it otherwise. The\n"
    "containers keep INPUT's sound: copied where they take its codec, else as 16-bit PCM. A file is\n"
    "written beside itself and renamed into place when complete; Ctrl-C (exit status 130) discards it.\n"
    "A damaged frame is reported and the last good picture is repeated until the next key frame; the\n"
    "exit status is then 1.\n"
    "\n"
    "The checksums: --md5 prints 'INDEX MD5' per picture; --framemd5 prints what 'ffmpeg -f framemd5'\n"
    "prints for the same pictures; --verify MD5 checks the MD5 of them all back to back (what md5sum\n"
    "gives for the .yuv output). With --threads N, groups of frames that begin at key frames are\n"
    "decoded by N codec instances at once; the output is the same.\n";

// What decoding one frame gave: a new picture, or the last one held (with the reason, if new).
struct DecodedFrame {
    int64_t index = 0;
    bool fresh = false;
    uint8_t* picture = nullptr;  // when fresh: from the run's pool, and the one it replaces goes back
    std::string message;
    bool damaged = false;
};

// The decoder's view of the stream across frames: nothing decodes until a key frame, and one message
// is given per run of held pictures. A well-formed key frame sets it whatever it was before, which is
// what lets groups starting at key frames be decoded apart.
struct HoldState {
    bool awaitingKey = true;
    bool gapReported = false;
};

class FrameDecoder {
  public:
    FrameDecoder(std::unique_ptr<Decompressor> decompressor, HostPicturePool& pictures)
        : decompressor(std::move(decompressor)), pictures(&pictures) {}
    DecodedFrame operator()(AviFrame& frame) {
        DecodedFrame out;
        out.index = frame.index;
        if (frame.key) state = HoldState{};  // a run's first frame: the state before it does not matter
        if (frame.data.empty()) return out;  // a dropped frame: the picture stays
        FrameHeader header;
        const bool wellFormed =
            frame.complete && ReadCheckedFrameHeader(frame.data.data(), frame.data.size(), &header);
        if (wellFormed && state.awaitingKey && header.keyFrame != 1) {
            if (!state.gapReported) {
                out.message =
                    "frame " + std::to_string(frame.index) + " is a delta frame with no key frame before it";
                out.damaged = true;
                state.gapReported = true;
            }
            return out;
        }
        // A well-formed chunk decoded writes every byte (an empty one, which writes none, ended above).
        out.picture = pictures->Take();
        if (wellFormed && decompressor->Decode(frame.data.data(), frame.data.size(), out.picture)) {
            out.fresh = true;
            state = {false, false};
            return out;
        }
        pictures->Give(std::exchange(out.picture, nullptr));
        out.message = "frame " + std::to_string(frame.index) + " is " +
                      (frame.complete ? "damaged" : "cut short") +
                      "; holding the last picture until the next key frame";
        out.damaged = true;
        state = {true, true};
        return out;
    }

  private:
    std::shared_ptr<Decompressor> decompressor;  // shared: std::function needs a copyable decoder
    HostPicturePool* pictures;
    HoldState state;
};

// Frames that may wait between reading and writing. An instance has work only once the reader has
// passed the run before its own, while the run after the front one fills as that is written: a run per
// instance keeps them all busy. Fewer than that would idle them; more only has instances decode far ahead
// into pictures that wait, fresh memory for each (a fault per page) where waiting less would reuse them.
// A file without an index, whose runs are unknown, may have 256 MB of pictures wait.
size_t BufferedFrames(int instances, int64_t longestRun, size_t pictureBytes) {
    constexpr size_t kBufferBytes = size_t{256} << 20;
    if (instances == 1) return 2;
    const size_t bound = kBufferBytes / std::max<size_t>(pictureBytes, 1);
    if (longestRun <= 0) return bound;
    return std::min(bound, static_cast<size_t>(instances) * (static_cast<size_t>(longestRun) + 1));
}

bool IsMd5Text(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c));
           });
}

}  // namespace

int DecodeCommand(std::span<const std::string> args) {
    std::optional<ParsedArgs> command = ParseCommandLine(args, kOptions, kHelp);
    if (!command) return 0;
    const ParsedArgs& parsed = *command;
    const int checksums = int{parsed.Has("md5")} + int{parsed.Has("framemd5")} + int{parsed.Has("verify")};
    if (checksums > 1) throw UsageError("--md5, --framemd5 and --verify exclude each other");
    const bool checksum = checksums == 1;
    if (checksum && parsed.Has("format"))
        throw UsageError("checksums write no pictures, so they take no --format");
    if (parsed.positional.size() != (checksum ? 1u : 2u))
        throw UsageError(checksum ? "expects INPUT.avi" : "expects INPUT.avi and OUTPUT");
    const std::string& input = parsed.positional[0];
    if (!checksum && parsed.positional[1] == input) throw UsageError("INPUT and OUTPUT are the same file");
    OutputTarget target;
    if (parsed.Has("md5")) {
        target.kind = OutputKind::Md5;
    } else if (parsed.Has("framemd5")) {
        target.kind = OutputKind::FrameMd5;
    } else if (const std::string* md5 = parsed.Last("verify")) {
        std::string expected = md5->rfind("MD5=", 0) == 0 ? md5->substr(4) : *md5;
        std::transform(expected.begin(), expected.end(), expected.begin(),
                       [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        if (!IsMd5Text(expected)) throw UsageError("--verify: '" + *md5 + "' is not an MD5 (32 hex digits)");
        target.kind = OutputKind::Verify;
        target.expectedMd5 = expected;
    } else {
        target = ChooseOutput(parsed.positional[1], parsed.Last("format"));
    }
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (const std::string* t = parsed.Last("threads"))
        threads = static_cast<int>(ParseInteger(*t, "--threads", 1, 256));

    AviReader reader(input);
    const int width = reader.Width(), height = reader.Height();
    std::unique_ptr<AudioTrack> audio;
    if (target.kind == OutputKind::Container && reader.Audio() && !parsed.Has("no-audio"))
        audio =
            std::make_unique<AudioTrack>(*reader.Audio(), reader.AudioStartTime(), *target.container, input);
    const std::string audioText = audio ? audio->Description() : "";
    auto sink = OpenSink(target, width, height, reader.Rate(), reader.Scale(), std::move(audio));
    if (!audioText.empty()) reader.OnAudio([&](const AVPacket& packet) { sink->WriteAudio(packet); });
    const HostFormat decodeFormat = sink->DecodeFormat();
    FirstInstance first(std::make_unique<Decompressor>(reader.Format(), decodeFormat));

    const size_t pictureBytes = HostPictureBytes(decodeFormat, width, height);
    HostPicturePool pictures(pictureBytes);
    uint8_t* held = pictures.Take();
    const std::vector<uint8_t> black = BlackHostPicture(decodeFormat, width, height);
    std::copy(black.begin(), black.end(), held);
    int64_t damaged = 0, frames = 0;
    auto write = [&](DecodedFrame& decoded) {
        if (!decoded.message.empty())
            std::fprintf(stderr, "rq43 decode: %s: %s\n", input.c_str(), decoded.message.c_str());
        damaged += decoded.damaged ? 1 : 0;
        if (decoded.fresh) std::swap(held, decoded.picture);
        sink->Write(decoded.index, held);
        if (decoded.fresh) pictures.Give(decoded.picture);  // the one held until now
        ++frames;
    };
    auto start = std::chrono::steady_clock::now();
    {
        RunPipeline<AviFrame, DecodedFrame> pipeline(
            threads, BufferedFrames(threads, reader.LongestKeyRun(), pictureBytes),
            [&]() -> std::function<DecodedFrame(AviFrame&)> {
                auto mine = first.TakeOr(
                    [&] { return std::make_unique<Decompressor>(reader.Format(), decodeFormat); });
                return FrameDecoder(std::move(mine), pictures);
            });
        AviFrame frame;
        while (reader.Next(frame)) {
            if (InterruptRequested()) throw Interruption("interrupted; the unfinished output is discarded");
            const bool startsRun = frame.key;
            pipeline.Add(std::move(frame), startsRun, write);
            frame = AviFrame{};
        }
        pipeline.Finish(write);
    }
    if (InterruptRequested()) throw Interruption("interrupted; the unfinished output is discarded");
    const bool verified = sink->Finish();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!checksum)
        std::fprintf(stderr, "%s: %lld frames, %dx%d, decoded at %.1f fps\n", input.c_str(),
                     static_cast<long long>(frames), width, height,
                     seconds > 0 ? static_cast<double>(frames) / seconds : 0.0);
    if (!audioText.empty()) std::fprintf(stderr, "%s: %s\n", parsed.positional[1].c_str(), audioText.c_str());
    if (reader.Truncated()) {
        std::fprintf(stderr, "rq43 decode: %s: the file is truncated (%lld of %lld frames)\n", input.c_str(),
                     static_cast<long long>(frames), static_cast<long long>(reader.AnnouncedFrames()));
        return kExitFailure;
    }
    if (damaged) {
        std::fprintf(stderr, "rq43 decode: %s: %lld damaged frame%s\n", input.c_str(),
                     static_cast<long long>(damaged), damaged == 1 ? "" : "s");
        return kExitFailure;
    }
    if (frames == 0) {
        std::fprintf(stderr, "rq43 decode: %s: the stream holds no frames\n", input.c_str());
        return kExitFailure;
    }
    return verified ? 0 : kExitFailure;
}

}  // namespace rq43::cli
