// The host layer's sessions with a look at the instance's pictures, so tests can compare the encoder's
// reconstruction with what a decoder makes.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/codec.h"
#include "host/codec_host.h"
#include "picture/yuv_frame.h"
#include "support/driver_host.h"

namespace rq43::testing {

using ::rq43::CompressedFrame;
using ::rq43::CompressOptions;

class EncoderSession : public ::rq43::EncoderSession {
  public:
    // Opens an instance under `handle` and begins a sequence for `input`; Begun() tells whether it worked.
    EncoderSession(uintptr_t handle, const BITMAPINFOHEADER& input) : ::rq43::EncoderSession(handle, input) {
        Begin();
    }
    Codec& Instance() const { return *reinterpret_cast<Codec*>(host.instance); }
    // The encoder's reconstruction of the frame just coded: the next frame's reference.
    const YuvFrame& Reconstruction() const { return *Instance().compression.encCurrent; }
};

class DecoderSession : public ::rq43::DecoderSession {
  public:
    // Opens an instance under `handle` and begins a sequence; Begun() tells whether it worked.
    DecoderSession(uintptr_t handle, const BITMAPINFOHEADER& compressed, const BITMAPINFOHEADER& output)
        : ::rq43::DecoderSession(handle, compressed, output) {
        Begin();
    }
    Codec& Instance() const { return *reinterpret_cast<Codec*>(host.instance); }
    // The last picture decoded in full.
    const YuvFrame& Picture() const { return *Instance().decompression.decPrevious; }
};

// The picture area of two frames holds the same pixels in all three planes.
bool SamePicture(const YuvFrame& a, const YuvFrame& b);
uint64_t PictureChecksum(const YuvFrame& frame);

}  // namespace rq43::testing
