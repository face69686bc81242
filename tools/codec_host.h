// The codec as a VfW host sees it: instances opened through DriverProc and driven by messages only.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "config/settings_store.h"
#include "host_format.h"
#include "platform/vfw.h"

namespace rq43::cli {

// One open instance under a handle of its own; closed at scope end.
class DriverInstance {
  public:
    DriverInstance();
    ~DriverInstance();
    DriverInstance(const DriverInstance&) = delete;
    DriverInstance& operator=(const DriverInstance&) = delete;

    LRESULT Send(UINT message, LPARAM p1 = 0, LPARAM p2 = 0) const;
    template <typename T>
    LRESULT Send(UINT message, T* p1, LPARAM p2 = 0) const {
        return Send(message, reinterpret_cast<LPARAM>(p1), p2);
    }
    template <typename T, typename U>
    LRESULT Send(UINT message, T* p1, U* p2) const {
        return Send(message, reinterpret_cast<LPARAM>(p1), reinterpret_cast<LPARAM>(p2));
    }

  private:
    HDRVR driver;
};

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

struct CompressedFrame {
    const uint8_t* data;
    size_t size;
    bool key;
};

// query, get format, get size, frames info or set quality, begin; one compress per frame; end.
class Compressor {
  public:
    explicit Compressor(const CompressorSetup& setup);
    ~Compressor();
    const BITMAPINFOHEADER& Format() const { return compressedFormat; }
    // `frameNumber` is the frame's place in the whole stream, also when this instance codes only runs of it.
    CompressedFrame Compress(const uint8_t* picture, bool requestKey, int64_t frameNumber);
    static int DefaultKeyInterval();

  private:
    DriverInstance instance;
    CompressorSetup setup;
    BITMAPINFOHEADER inputFormat;
    BITMAPINFOHEADER compressedFormat{};
    std::vector<uint8_t> output;
    DWORD quality = 0;  // the interface's 0..10000 scale
    bool begun = false;
};

// query, begin; one decompress per frame; end.
class Decompressor {
  public:
    Decompressor(const BITMAPINFOHEADER& compressed, HostFormat output);
    ~Decompressor();
    int Width() const { return width; }
    int Height() const { return height; }
    HostFormat OutputFormat() const { return outputFormat; }
    // Decodes one frame into `picture` (HostPictureBytes); false when the frame is refused.
    bool Decode(const uint8_t* data, size_t size, uint8_t* picture);

  private:
    DriverInstance instance;
    BITMAPINFOHEADER inputFormat;
    BITMAPINFOHEADER outputHeader;
    HostFormat outputFormat;
    int width, height;
    bool begun = false;
};

}  // namespace rq43::cli
