// AVI files holding one video stream of compressed frames: the container a VfW host stores them in.
// The writer keeps each frame's key flag in the index and the stream's frame rate in its header; the
// reader trusts nothing in the file and bounds every size by the file itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/vfw.h"

namespace rq43::cli {

class AviWriter {
public:
    // `format` is the stream format (the codec's compressed format header).
    AviWriter(const std::string& path, const BITMAPINFOHEADER& format, uint32_t rate, uint32_t scale);
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    void WriteFrame(const uint8_t* data, size_t size, bool key);
    // Writes the index and the final header fields; the file is incomplete until this returns.
    void Finish();

private:
    struct IndexEntry {
        uint32_t offset, size, flags;
    };
    void WriteHeaders(uint32_t moviSize, uint32_t riffSize);
    void Check(bool ok);

    std::string path;
    std::FILE* file = nullptr;
    BITMAPINFOHEADER format;
    uint32_t rate, scale;
    std::vector<IndexEntry> index;
    uint32_t largestFrame = 0;
};

struct AviFrame {
    uint64_t offset = 0;      // of the data in the file
    uint32_t size = 0;        // as the chunk declares it
    uint32_t available = 0;   // bytes actually in the file (less than size when truncated)
    bool key = false;
};

class AviReader {
public:
    // Throws Failure ("not an AVI file", "no video stream", ...) naming the file.
    explicit AviReader(const std::string& path);
    ~AviReader();
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    const BITMAPINFOHEADER& Format() const { return format; }
    uint32_t Rate() const { return rate; }
    uint32_t Scale() const { return scale; }
    const std::vector<AviFrame>& Frames() const { return frames; }
    // True when the file ended before the index or inside a chunk.
    bool Truncated() const { return truncated; }
    // Reads the available bytes of frame i; false if the read fails.
    bool ReadFrame(size_t i, std::vector<uint8_t>& data);

private:
    void ParseList(uint64_t start, uint64_t end, int depth);
    void ParseStreamHeader(const std::vector<uint8_t>& data);
    void ParseMovi(uint64_t start, uint64_t end, int depth);
    void ApplyIndex(const std::vector<uint8_t>& data);
    bool ReadAt(uint64_t offset, void* out, size_t size);

    std::string path;
    std::FILE* file = nullptr;
    uint64_t fileSize = 0;
    BITMAPINFOHEADER format{};
    uint32_t rate = 0, scale = 0;
    int streamCount = 0;
    int videoStream = -1;
    bool haveFormat = false;
    bool truncated = false;
    uint64_t moviStart = 0;
    std::vector<AviFrame> frames;
};

}  // namespace rq43::cli
