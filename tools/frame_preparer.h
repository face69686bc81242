// Turns source pictures into what the codec is handed: the host format at a size that is a multiple of
// 16, reached by edge replication (padding) or by cutting the centre out (cropping). Also gives the
// visible source as 4:2:0 planes, the reference that quality is measured against.
#pragma once

#include <cstdint>
#include <vector>

#include "host_format.h"
#include "picture420.h"

struct AVFrame;
struct SwsContext;

namespace rq43::cli {

enum class FitMode { Pad, Crop };

class FramePreparer {
  public:
    // Throws Failure when cropping leaves nothing.
    FramePreparer(int sourceWidth, int sourceHeight, HostFormat format, FitMode mode);
    ~FramePreparer();
    FramePreparer(const FramePreparer&) = delete;
    FramePreparer& operator=(const FramePreparer&) = delete;

    int Width() const { return width; }  // the codec's picture
    int Height() const { return height; }
    bool Resized() const { return width != sourceWidth || height != sourceHeight; }

    // Writes every one of the HostPictureBytes(format, Width(), Height()) bytes at `host`; `reference`, if
    // given, receives the visible picture as 4:2:0.
    void Prepare(const AVFrame& source, uint8_t* host, Picture420* reference);

  private:
    void Convert(const AVFrame& source, int pixelFormat, int filter, SwsContext*& context,
                 uint8_t* const out[], const int outLinesize[]);
    void Convert(const AVFrame& source, int pixelFormat, int filter, SwsContext*& context, AVFrame* out);
    void PadHost(uint8_t* host) const;

    int sourceWidth, sourceHeight;
    HostFormat format;
    int width, height;
    int cropLeft = 0, cropTop = 0;
    int visibleWidth, visibleHeight;
    SwsContext* hostScaler = nullptr;
    SwsContext* referenceScaler = nullptr;
    AVFrame* hostFrame;
    AVFrame* referenceFrame;
    AVFrame* cropped;
};

}  // namespace rq43::cli
