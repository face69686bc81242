// Sources of uncompressed pictures: any file libavformat opens, or y4m on standard input ("-").
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host_format.h"

struct AVFrame;

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
};

std::unique_ptr<VideoSource> OpenVideoSource(const std::string& path);

}  // namespace rq43::cli
