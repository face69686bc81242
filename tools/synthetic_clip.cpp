#include "synthetic_clip.h"

#include <cstring>
#include <new>

#include "host/moving_clip.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace rq43::cli {
namespace {

// The tests' moving clip, handed over as RGB frames; the program converts them like any other source.
class SyntheticClip final : public VideoSource {
  public:
    SyntheticClip(int width, int height, int frames, uint32_t rate)
        : frames(frames), frame(av_frame_alloc()) {
        if (!frame) throw std::bad_alloc();
        info.name = "the demo clip";
        info.width = width;
        info.height = height;
        info.rate = rate;
        info.scale = 1;
        info.frameCount = frames;
        info.closestFormat = HostFormat::Uyvy;
        info.pixelFormat = "rgb24";
    }
    ~SyntheticClip() override { av_frame_free(&frame); }
    const SourceInfo& Info() const override { return info; }
    const AVFrame* Next() override {
        if (index >= frames) return nullptr;
        av_frame_unref(frame);
        frame->format = AV_PIX_FMT_RGB24;
        frame->width = info.width;
        frame->height = info.height;
        if (av_frame_get_buffer(frame, 0) < 0) throw std::bad_alloc();
        const std::vector<uint8_t> rgb = ClipFrameRgb(info.width, info.height, index++, kNoise);
        const size_t rowBytes = 3 * static_cast<size_t>(info.width);
        for (int y = 0; y < info.height; ++y)
            std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0],
                        rgb.data() + static_cast<size_t>(y) * rowBytes, rowBytes);
        return frame;
    }

  private:
    static constexpr int32_t kNoise = 4;
    SourceInfo info;
    int frames;
    int index = 0;
    AVFrame* frame;
};

}  // namespace

std::unique_ptr<VideoSource> MakeSyntheticClip(int width, int height, int frames, uint32_t rate) {
    return std::make_unique<SyntheticClip>(width, height, frames, rate);
}

}  // namespace rq43::cli
