#include "synthetic_clip.h"

#include <algorithm>
#include <cmath>
#include <new>

extern "C" {
#include <libavutil/frame.h>
}

namespace rq43::cli {
namespace {

uint8_t Clamp(double v, double lo, double hi) { return static_cast<uint8_t>(std::clamp(v, lo, hi) + 0.5); }

class SyntheticClip final : public VideoSource {
public:
    SyntheticClip(int width, int height, int frames, uint32_t rate) : frames(frames), frame(av_frame_alloc()) {
        if (!frame) throw std::bad_alloc();
        info.name = "the demo clip";
        info.width = width;
        info.height = height;
        info.rate = rate;
        info.scale = 1;
        info.frameCount = frames;
        info.closestFormat = HostFormat::Uyvy;
        info.pixelFormat = "yuv420p";
    }
    ~SyntheticClip() override { av_frame_free(&frame); }
    const SourceInfo& Info() const override { return info; }
    const AVFrame* Next() override {
        if (index >= frames) return nullptr;
        av_frame_unref(frame);
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = info.width;
        frame->height = info.height;
        if (av_frame_get_buffer(frame, 0) < 0) throw std::bad_alloc();
        Paint(index++);
        return frame;
    }

private:
    void Paint(int f) {
        const double t = f;
        // The camera pans right and down; the ball travels across on a wave.
        const double panX = 2.0 * t, panY = 1.0 * t;
        const double ballX = 40 + 5.0 * t, ballY = info.height / 2.0 + info.height / 4.0 * std::sin(t * 0.15);
        const double radius = info.height / 7.0;
        for (int y = 0; y < info.height; ++y) {
            uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
            for (int x = 0; x < info.width; ++x) {
                double u = x + panX, v = y + panY;
                double texture = 118 + 45 * std::sin(u * 0.11) * std::cos(v * 0.07) +
                                 (((static_cast<int>(u) / 16 + static_cast<int>(v) / 16) % 2) ? 18 : -18) +
                                 12 * std::sin((u + v) * 0.9);
                double dx = x - ballX, dy = y - ballY, d2 = dx * dx + dy * dy;
                if (d2 < radius * radius) texture = 200 - 60 * std::sqrt(d2) / radius + 15 * std::sin(dx * 0.5);
                row[x] = Clamp(texture, 16, 235);
            }
        }
        for (int y = 0; y < (info.height + 1) / 2; ++y) {
            uint8_t* cb = frame->data[1] + static_cast<ptrdiff_t>(y) * frame->linesize[1];
            uint8_t* cr = frame->data[2] + static_cast<ptrdiff_t>(y) * frame->linesize[2];
            for (int x = 0; x < (info.width + 1) / 2; ++x) {
                double u = 2 * x + panX, v = 2 * y + panY;
                double dx = 2 * x - ballX, dy = 2 * y - ballY;
                bool ball = dx * dx + dy * dy < radius * radius;
                cb[x] = ball ? 80 : Clamp(128 + 40 * std::sin(u * 0.02 + t * 0.05), 16, 240);
                cr[x] = ball ? 200 : Clamp(128 + 35 * std::cos(v * 0.03), 16, 240);
            }
        }
    }

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
