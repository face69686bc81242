// A host's view of one compression or decompression sequence, driven through DriverProc, with a look
// at the instance's pictures so tests can compare the encoder's reconstruction with what a decoder makes.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/codec.h"
#include "picture/yuv_frame.h"
#include "support/driver_host.h"

namespace rq43::testing {

struct CompressedFrame {
    std::vector<uint8_t> bytes;
    bool key = false;  // AVIIF_KEYFRAME came back
};

struct CompressOptions {
    DWORD flags = 0;       // ICCOMPRESS dwFlags
    DWORD frameSize = 0;   // dwFrameSize: the byte target of this frame, 0 = none
    DWORD quality = 7500;  // dwQuality
};

class EncoderSession {
  public:
    // Opens an instance under `handle` and begins a sequence for `input`; begun() tells whether it worked.
    EncoderSession(uintptr_t handle, const BITMAPINFOHEADER& input);
    ~EncoderSession();
    EncoderSession(const EncoderSession&) = delete;
    EncoderSession& operator=(const EncoderSession&) = delete;

    bool Begun() const { return beginResult == ICERR_OK; }
    LRESULT Compress(const std::vector<uint8_t>& pixels, LONG frameNumber, CompressedFrame* out,
                     const CompressOptions& options = {});
    Codec& Instance() const { return *reinterpret_cast<Codec*>(host.instance); }
    // The encoder's reconstruction of the frame just coded: the next frame's reference.
    const YuvFrame& Reconstruction() const { return *Instance().compression.encCurrent; }
    const BITMAPINFOHEADER& CompressedFormat() const { return output; }

    OpenInstance host;
    BITMAPINFOHEADER input;
    BITMAPINFOHEADER output{};
    LRESULT beginResult = ICERR_UNSUPPORTED;
};

class DecoderSession {
  public:
    DecoderSession(uintptr_t handle, const BITMAPINFOHEADER& compressed, const BITMAPINFOHEADER& output);
    ~DecoderSession();
    DecoderSession(const DecoderSession&) = delete;
    DecoderSession& operator=(const DecoderSession&) = delete;

    bool Begun() const { return beginResult == ICERR_OK; }
    // Decodes `frame` (a chunk of frame.size() bytes unless `chunkSize` says otherwise) into `pixels`,
    // which must hold the output picture.
    LRESULT Decompress(const std::vector<uint8_t>& frame, std::vector<uint8_t>& pixels, DWORD flags = 0,
                       int64_t chunkSize = -1);
    Codec& Instance() const { return *reinterpret_cast<Codec*>(host.instance); }
    // The last picture decoded in full.
    const YuvFrame& Picture() const { return *Instance().decompression.decPrevious; }
    size_t OutputBytes() const;

    OpenInstance host;
    BITMAPINFOHEADER input;
    BITMAPINFOHEADER output;
    LRESULT beginResult = ICERR_UNSUPPORTED;
};

// The picture area of two frames holds the same pixels in all three planes.
bool SamePicture(const YuvFrame& a, const YuvFrame& b);
uint64_t PictureChecksum(const YuvFrame& frame);

}  // namespace rq43::testing
