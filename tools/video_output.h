// Where decoded pictures go: y4m (file or standard output), raw 4:2:0, raw host format, a PNG
// sequence, a container libavformat writes (with the input's sound), or checksums: one MD5 line per picture,
// FFmpeg's framemd5 lines, or one MD5 of them all to compare with an expected one. Files are written beside
// themselves and renamed into place at Finish.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host_format.h"

struct AVOutputFormat;
struct AVPacket;

namespace rq43::cli {

enum class OutputKind { Y4m, Yuv420, Raw, Png, Container, Md5, FrameMd5, Verify };

struct OutputTarget {
    OutputKind kind = OutputKind::Y4m;
    HostFormat rawFormat = HostFormat::Uyvy;    // for Raw
    const AVOutputFormat* container = nullptr;  // for Container: its muxer
    std::string path;                           // "-" = standard output; a pattern for Png
    std::string expectedMd5;                    // for Verify: 32 hex digits
};

// OUTPUT by --format or by its extension; throws UsageError when neither tells.
OutputTarget ChooseOutput(const std::string& path, const std::string* format);

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // The format the codec should decode into for this sink.
    virtual HostFormat DecodeFormat() const = 0;
    virtual void Write(int64_t index, const uint8_t* picture) = 0;
    // A packet of the input's sound, for a sink opened with an audio track.
    virtual void WriteAudio(const AVPacket&) {}
    // Completes the output; false when a Verify target's checksum differs (which it reports).
    virtual bool Finish() { return true; }
};

class AudioTrack;

// `audio`, for a Container target only, carries the input's sound into it.
std::unique_ptr<FrameSink> OpenSink(const OutputTarget& target, int width, int height, uint32_t rate,
                                    uint32_t scale, std::unique_ptr<AudioTrack> audio = nullptr);

}  // namespace rq43::cli
