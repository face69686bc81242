// YUV4MPEG2 streams: the plain interchange format of video tools, readable from and writable to pipes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "picture420.h"

namespace rq43::cli {

enum class Y4mChroma { C420, C422, C444, Mono };

struct Y4mHeader {
    int width = 0;
    int height = 0;
    uint32_t rateNum = 25;
    uint32_t rateDen = 1;
    Y4mChroma chroma = Y4mChroma::C420;
};

// Reads the stream header at construction; throws Failure naming `name` on a malformed stream.
class Y4mReader {
public:
    Y4mReader(std::FILE* file, std::string name);
    const Y4mHeader& Header() const { return header; }
    // Plane sizes in bytes (luma, each chroma plane; chroma 0 for Mono).
    size_t LumaBytes() const;
    size_t ChromaBytes() const;
    // One frame's planes back to back; false at the clean end of the stream.
    bool ReadFrame(std::vector<uint8_t>& planes);

private:
    std::string ReadLine(size_t limit);
    std::FILE* file;
    std::string name;
    Y4mHeader header;
};

class Y4mWriter {
public:
    Y4mWriter(std::FILE* file, std::string name, int width, int height, uint32_t rateNum, uint32_t rateDen);
    void WriteFrame(const Picture420& picture);

private:
    std::FILE* file;
    std::string name;
};

}  // namespace rq43::cli
