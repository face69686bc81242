#include "avi_stream_format.h"

#include <cstring>

namespace rq43::players {
namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool Is(const uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

// The headers sit at the start of the file; a list claiming more is not followed further than this.
constexpr uint64_t kHeaderLimit = 1 << 20;

struct Chunk {
    uint64_t data;  // offset of the chunk's data
    uint32_t size;
    const uint8_t* id;
};

bool ReadChunk(const PeekFunction& peek, uint64_t offset, Chunk* chunk) {
    const uint8_t* head = peek(offset, 8);
    if (head == nullptr) return false;
    *chunk = {offset + 8, Le32(head + 4), head};
    return true;
}

uint64_t Next(const Chunk& chunk) {
    return chunk.data + chunk.size + (chunk.size & 1);
}

// One stream list: true when it is a video stream, with `format` filled in.
bool ReadVideoStreamList(const PeekFunction& peek, uint64_t begin, uint64_t end, AviStreamFormat* format,
                         bool* complete) {
    bool video = false, haveRate = false;
    for (uint64_t offset = begin; offset + 8 <= end;) {
        Chunk chunk;
        if (!ReadChunk(peek, offset, &chunk)) return false;
        if (Is(chunk.id, "strh")) {
            const uint8_t* strh = chunk.size >= 28 ? peek(chunk.data, 28) : nullptr;
            if (strh == nullptr || !Is(strh, "vids")) return false;
            video = true;
            format->scale = Le32(strh + 20);
            format->rate = Le32(strh + 24);
            haveRate = true;
        } else if (Is(chunk.id, "strf") && video) {
            const uint8_t* strf = chunk.size >= 20 ? peek(chunk.data, 20) : nullptr;
            if (strf == nullptr) return false;
            format->width = static_cast<int32_t>(Le32(strf + 4));
            format->height = static_cast<int32_t>(Le32(strf + 8));
            format->compression = Le32(strf + 16);
            *complete = haveRate;
            return true;
        }
        offset = Next(chunk);
    }
    return false;
}

}  // namespace

bool ReadFirstVideoStream(const PeekFunction& peek, AviStreamFormat* format) {
    const uint8_t* riff = peek(0, 12);
    if (riff == nullptr || !Is(riff, "RIFF") || !Is(riff + 8, "AVI ")) return false;
    Chunk hdrl;
    const uint8_t* type;
    if (!ReadChunk(peek, 12, &hdrl) || !Is(hdrl.id, "LIST") || (type = peek(hdrl.data, 4)) == nullptr ||
        !Is(type, "hdrl"))
        return false;
    const uint64_t end = hdrl.data + hdrl.size < kHeaderLimit ? hdrl.data + hdrl.size : kHeaderLimit;
    for (uint64_t offset = hdrl.data + 4; offset + 8 <= end;) {
        Chunk chunk;
        if (!ReadChunk(peek, offset, &chunk)) return false;
        if (Is(chunk.id, "LIST")) {
            const uint8_t* listType = peek(chunk.data, 4);
            if (listType == nullptr) return false;
            if (Is(listType, "strl")) {
                bool complete = false;
                if (ReadVideoStreamList(peek, chunk.data + 4, chunk.data + chunk.size, format, &complete))
                    return complete;
            }
        }
        offset = Next(chunk);
    }
    return false;
}

}  // namespace rq43::players
