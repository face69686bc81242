// The codec as a Video for Windows host sees it: instances opened through the driver entry point and
// driven by messages only. The program, the tests, the benchmarks and the Linux side of the Windows
// cross-check all drive the codec through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "driver/driver_proc.h"
#include "platform/vfw.h"

namespace rq43 {

using DriverProcFunction = LRESULT (*)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

template <typename T>
LPARAM Param(T* pointer) {
    return reinterpret_cast<LPARAM>(pointer);
}

// A handle no other instance of this process uses.
uintptr_t FreshDriverHandle();

// Opens a video compressor instance under `handle` through `proc` and closes it again at scope end.
class DriverInstance {
  public:
    DriverInstance(uintptr_t handle, DriverProcFunction proc);
    // Through the DriverProc this program links.
    explicit DriverInstance(uintptr_t handle) : DriverInstance(handle, &DriverProc) {}
    ~DriverInstance();
    DriverInstance(const DriverInstance&) = delete;
    DriverInstance& operator=(const DriverInstance&) = delete;

    bool Opened() const { return instance != 0; }
    LRESULT Message(UINT message, LPARAM p1 = 0, LPARAM p2 = 0) const {
        return proc(0, driver, message, p1, p2);
    }

    DriverProcFunction proc;
    HDRVR driver;
    LRESULT instance = 0;   // DRV_OPEN's answer: 0 when refused
    LRESULT openError = 0;  // the error the driver wrote back when it refused
};

struct CompressOptions {
    DWORD flags = 0;       // ICCOMPRESS dwFlags
    DWORD frameSize = 0;   // dwFrameSize: the byte target of this frame, 0 = none
    DWORD quality = 7500;  // dwQuality
};

struct CompressedFrame {
    std::vector<uint8_t> bytes;
    bool key = false;  // AVIIF_KEYFRAME came back
};

// One compression sequence. The constructor opens the instance and asks for the compressed format
// (its size first, then the format) and the compressed-size bound; Begin() starts the sequence, which
// ends with the session.
class EncoderSession {
  public:
    EncoderSession(uintptr_t handle, const BITMAPINFOHEADER& input, DriverProcFunction proc);
    EncoderSession(uintptr_t handle, const BITMAPINFOHEADER& input)
        : EncoderSession(handle, input, &DriverProc) {}
    ~EncoderSession();
    EncoderSession(const EncoderSession&) = delete;
    EncoderSession& operator=(const EncoderSession&) = delete;

    // ICM_COMPRESS_BEGIN with the negotiated formats; its answer is kept.
    LRESULT Begin();
    bool Begun() const { return beginResult == ICERR_OK; }
    // One ICM_COMPRESS of `pixels` (a picture in the input format); `out` receives the frame when it worked.
    // ICERR_BADSIZE when the codec reports more bytes than the bound it gave. The codec writes into a buffer
    // of the bound that the session keeps for all its frames; only the frame's own bytes are copied out.
    LRESULT Compress(const uint8_t* pixels, LONG frameNumber, CompressedFrame* out,
                     const CompressOptions& options = {});
    LRESULT Compress(const std::vector<uint8_t>& pixels, LONG frameNumber, CompressedFrame* out,
                     const CompressOptions& options = {}) {
        return Compress(pixels.data(), frameNumber, out, options);
    }
    const BITMAPINFOHEADER& CompressedFormat() const { return output; }

    DriverInstance host;
    BITMAPINFOHEADER input;
    BITMAPINFOHEADER output{};
    LRESULT formatResult = ICERR_UNSUPPORTED;  // ICM_COMPRESS_GET_FORMAT's answer
    LRESULT bound = 0;                         // ICM_COMPRESS_GET_SIZE's answer: each frame's buffer
    LRESULT beginResult = ICERR_UNSUPPORTED;

  private:
    // Left uninitialised: the codec writes before it reads, and clearing the bound each frame cost more
    // than coding a fast frame's sections.
    std::unique_ptr<uint8_t[]> frameBuffer;
    size_t frameBufferBytes = 0;
};

// One decompression sequence: the constructor opens the instance, Begin() starts the sequence, which ends
// with the session.
class DecoderSession {
  public:
    DecoderSession(uintptr_t handle, const BITMAPINFOHEADER& compressed, const BITMAPINFOHEADER& output,
                   DriverProcFunction proc);
    DecoderSession(uintptr_t handle, const BITMAPINFOHEADER& compressed, const BITMAPINFOHEADER& output)
        : DecoderSession(handle, compressed, output, &DriverProc) {}
    ~DecoderSession();
    DecoderSession(const DecoderSession&) = delete;
    DecoderSession& operator=(const DecoderSession&) = delete;

    // ICM_DECOMPRESS_BEGIN with the session's formats; its answer is kept.
    LRESULT Begin();
    bool Begun() const { return beginResult == ICERR_OK; }
    // Decodes a chunk of `size` bytes into `pixels`, which must hold the output picture (OutputBytes).
    LRESULT Decompress(const uint8_t* frame, size_t size, uint8_t* pixels, DWORD flags = 0);
    // The same for a whole vector, whose chunk is frame.size() bytes unless `chunkSize` says otherwise.
    LRESULT Decompress(const std::vector<uint8_t>& frame, std::vector<uint8_t>& pixels, DWORD flags = 0,
                       int64_t chunkSize = -1);
    size_t OutputBytes() const;

    DriverInstance host;
    BITMAPINFOHEADER input;
    BITMAPINFOHEADER output;
    LRESULT beginResult = ICERR_UNSUPPORTED;
};

}  // namespace rq43
