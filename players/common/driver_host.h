// The players' side of the codec: librq43.so loaded at run time and driven through its DriverProc, as a
// Video for Windows host loads and drives an installable compressor. Plain C++ with no player types, so the
// GStreamer plugin and the VLC module decode the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/vfw.h"

namespace rq43::players {

using DriverProcFunction = LRESULT (*)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

// The module's entry point; nullptr (and `error` set) when the module cannot be loaded. The module is
// looked for at $RQ43_MODULE, then beside the calling plugin, then by the system's library search. It
// stays loaded for the life of the process.
DriverProcFunction LoadDriverProc(std::string* error);

// The uncompressed formats the codec writes, all top row first.
enum class PictureFormat { Uyvy, Yuy2, Bgr24, Bgrx32 };

size_t PictureBytes(PictureFormat format, int width, int height);

// The key byte of the frame's own header; containers' key flags are not trusted (an AVI without an
// index calls every chunk a key frame).
bool IsKeyFrame(const uint8_t* frame, size_t size);

enum class DecodeResult {
    Picture,     // `picture` holds the frame
    WaitingKey,  // a delta frame with no decoded reference behind it: dropped
    NullFrame,   // an empty chunk: the previous picture stands
    Damaged,     // refused by the codec; delta frames are dropped until the next key frame
};

// One decompressing instance for one stream.
class StreamDecoder {
  public:
    StreamDecoder() = default;
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // Opens an instance and begins decompressing `width` x `height` pictures; false with `error` set.
    bool Open(int width, int height, PictureFormat format, std::string* error);
    void Close();
    bool IsOpen() const { return begun; }

    // Decodes one chunk into `picture`, whose rows lie `pitch` bytes apart (players may pad them).
    DecodeResult Decode(const uint8_t* frame, size_t size, uint8_t* picture, size_t pitch);
    // After a seek or a discontinuity: nothing decodes until a key frame.
    void WaitForKeyFrame() { haveReference = false; }

  private:
    DriverProcFunction driverProc = nullptr;
    DWORD_PTR driverId = 0;
    bool opened = false;
    bool begun = false;
    bool haveReference = false;
    BITMAPINFOHEADER input{};
    BITMAPINFOHEADER output{};
    size_t rowBytes = 0;
    int rows = 0;
    std::vector<uint8_t> scratch;  // the whole picture, for padded rows

    LRESULT Send(UINT message, LPARAM p1 = 0, LPARAM p2 = 0);
    HDRVR Handle() { return static_cast<HDRVR>(this); }
};

}  // namespace rq43::players
