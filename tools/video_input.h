// Sources of uncompressed pictures: anything libavformat reads, from a file or ("-") standard input.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host_format.h"

struct AVFrame;
struct AVPacket;
struct AVStream;

namespace rq43::cli {

struct SourceInfo {
    std::string name;  // for messages: the path, or "standard input"
    int width = 0, height = 0;
    uint32_t rate = 25, scale = 1;
    int64_t frameCount = 0;  // 0 when unknown
    HostFormat closestFormat = HostFormat::Uyvy;
    std::string pixelFormat;  // the source's own, for messages
};

class VideoSource {
  public:
    virtual ~VideoSource() = default;
    virtual const SourceInfo& Info() const = 0;
    // The next picture, valid until the next call; nullptr at the end. Throws Failure on a broken input.
    virtual const AVFrame* Next() = 0;
    // The source's sound, if any, and the time (in its time base) that lines up with the first picture.
    virtual const AVStream* Audio() const { return nullptr; }
    virtual int64_t AudioStartTime() const { return 0; }
    // Called with every sound packet met while reading pictures; none are kept without it.
    void OnAudio(std::function<void(const AVPacket&)> handler) { audioHandler = std::move(handler); }

  protected:
    std::function<void(const AVPacket&)> audioHandler;
};

std::unique_ptr<VideoSource> OpenVideoSource(const std::string& path);

// Refuses a YUV4MPEG2 stream header (the start of a file) whose picture or frame rate cannot be
// handled, before libavformat sizes anything by it. Other data passes.
void CheckY4mHeader(const uint8_t* start, size_t size, const std::string& name);

}  // namespace rq43::cli
