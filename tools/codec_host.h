// The program's compressor and decompressor: the host layer's sessions with the program's error
// reporting (Failure), its settings for one run, and a check of every frame's own layout.
#pragma once

#include <cstdint>
#include <optional>

#include "config/settings_store.h"
#include "host/codec_host.h"
#include "host_format.h"

namespace rq43::cli {

struct CompressorSetup {
    HostFormat format = HostFormat::Uyvy;
    int width = 0, height = 0;
    uint32_t rate = 25, scale = 1;
    std::optional<int> quality;  // 0..100; the codec's default quality when absent
    int64_t bitrateKbps = 0;     // stream target through the frames info; 0 = none
    uint32_t frameSize = 0;      // per-frame byte target; 0 = none
    int64_t frameCount = 0;      // for the frames info, when known
    int keyInterval = 0;
    std::optional<CodecSettings> runSettings;  // settings for this run only, instead of the stored ones
};

// query, get format, query, frames info or set quality, begin; one compress per frame; end.
class Compressor {
  public:
    explicit Compressor(const CompressorSetup& setup);
    const BITMAPINFOHEADER& Format() const { return session.CompressedFormat(); }
    // `frameNumber` is the frame's place in the whole stream, also when this instance codes only runs of it.
    CompressedFrame Compress(const uint8_t* picture, bool requestKey, int64_t frameNumber);
    static int DefaultKeyInterval();

  private:
    CompressorSetup setup;
    EncoderSession session;
    DWORD quality = 0;  // the interface's 0..10000 scale
};

// query, begin; one decompress per frame; end.
class Decompressor {
  public:
    Decompressor(const BITMAPINFOHEADER& compressed, HostFormat output);
    int Width() const { return width; }
    int Height() const { return height; }
    // Decodes one frame into `picture` (HostPictureBytes); false when the frame is refused.
    bool Decode(const uint8_t* data, size_t size, uint8_t* picture);

  private:
    int width, height;
    DecoderSession session;
};

}  // namespace rq43::cli
