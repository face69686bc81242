#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "avi.h"
#include "cli_errors.h"

namespace rq43::cli {
namespace {

constexpr int kMaxListDepth = 4;

uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
bool Is(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

// Chunks of stream n are named "nndc" (or "nndb"), n in two decimal digits.
bool IsStreamChunk(const uint8_t* id, int stream) {
    const int n = stream < 0 ? 0 : stream % 100;
    return id[0] == '0' + n / 10 && id[1] == '0' + n % 10 && id[2] == 'd' && (id[3] == 'c' || id[3] == 'b');
}

}  // namespace

AviReader::AviReader(const std::string& path) : path(path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) throw FileFailure(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) throw FileFailure(path, "is a directory");
    file = std::fopen(path.c_str(), "rb");
    if (!file) throw FileFailure(path, std::strerror(errno));
    fileSize = static_cast<uint64_t>(info.st_size);

    uint8_t riff[12];
    if (!ReadAt(0, riff, sizeof riff) || !Is(riff, "RIFF") || !Is(riff + 8, "AVI "))
        throw FileFailure(path, "not an AVI file");
    uint64_t riffEnd = 8 + static_cast<uint64_t>(U32(riff + 4));
    if (riffEnd > fileSize) truncated = true;
    ParseList(12, std::min(riffEnd, fileSize), 0);
    if (videoStream < 0 || !haveFormat) throw FileFailure(path, truncated ? "truncated AVI file (no video stream header)"
                                                                          : "no video stream");
    if (rate == 0 || scale == 0) rate = 25, scale = 1;  // a header without a usable rate: assume the common one
}

AviReader::~AviReader() {
    if (file) std::fclose(file);
}

bool AviReader::ReadAt(uint64_t offset, void* out, size_t size) {
    if (offset + size > fileSize) return false;
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, size, file) == size;
}

void AviReader::ParseList(uint64_t start, uint64_t end, int depth) {
    std::vector<uint8_t> index;
    int currentStream = streamCount - 1;
    for (uint64_t pos = start; pos + 8 <= end;) {
        uint8_t head[12];
        if (!ReadAt(pos, head, 8)) break;
        uint64_t size = U32(head + 4), data = pos + 8;
        if (data + size > fileSize) truncated = true;
        uint64_t dataEnd = std::min(data + size, end);
        if (Is(head, "LIST") && size >= 4 && ReadAt(data, head + 8, 4)) {
            if (Is(head + 8, "movi")) {
                moviStart = data;
                ParseMovi(data + 4, dataEnd, 0);
            } else if (depth < kMaxListDepth && (Is(head + 8, "hdrl") || Is(head + 8, "strl"))) {
                if (Is(head + 8, "strl")) ++streamCount;
                ParseList(data + 4, dataEnd, depth + 1);
            }
        } else if (Is(head, "strh") && currentStream >= 0) {
            std::vector<uint8_t> strh(std::min<uint64_t>(size, 64));
            if (strh.size() >= 28 && ReadAt(data, strh.data(), strh.size()) && Is(strh.data(), "vids") &&
                videoStream < 0) {
                videoStream = currentStream;
                scale = U32(&strh[20]);
                rate = U32(&strh[24]);
            }
        } else if (Is(head, "strf") && currentStream >= 0 && currentStream == videoStream && !haveFormat) {
            uint8_t strf[40];
            if (size >= 40 && ReadAt(data, strf, 40)) {
                std::memcpy(&format, strf, sizeof format);
                haveFormat = true;
            }
        } else if (Is(head, "idx1") && depth == 0) {
            index.resize(static_cast<size_t>(dataEnd - data) / 16 * 16);
            if (!ReadAt(data, index.data(), index.size())) index.clear();
        }
        pos = data + size + (size & 1);
    }
    if (depth == 0) ApplyIndex(index);
}

void AviReader::ParseMovi(uint64_t start, uint64_t end, int depth) {
    for (uint64_t pos = start; pos + 8 <= end;) {
        uint8_t head[12];
        if (!ReadAt(pos, head, 8)) break;
        uint64_t size = U32(head + 4), data = pos + 8;
        if (Is(head, "LIST")) {
            if (depth < kMaxListDepth && size >= 4) ParseMovi(data + 4, std::min(data + size, end), depth + 1);
        } else if (IsStreamChunk(head, videoStream)) {
            AviFrame frame;
            frame.offset = data;
            frame.size = static_cast<uint32_t>(size);
            frame.available = static_cast<uint32_t>(std::min<uint64_t>(size, fileSize > data ? fileSize - data : 0));
            if (frame.available < frame.size) truncated = true;
            frames.push_back(frame);
        }
        if (data + size > end) {
            if (data + size > fileSize) truncated = true;
            break;
        }
        pos = data + size + (size & 1);
    }
}

void AviReader::ApplyIndex(const std::vector<uint8_t>& index) {
    std::vector<bool> keys;
    for (size_t i = 0; i + 16 <= index.size(); i += 16) {
        const uint8_t* entry = &index[i];
        if (!IsStreamChunk(entry, videoStream)) continue;
        keys.push_back((U32(entry + 4) & AVIIF_KEYFRAME) != 0);
    }
    bool indexed = keys.size() == frames.size();
    for (size_t i = 0; i < frames.size(); ++i) {
        if (indexed) {
            frames[i].key = keys[i];
            continue;
        }
        // Without a usable index the frame's own header says whether it is a key frame.
        uint8_t header[2];
        frames[i].key = frames[i].available >= 2 && ReadAt(frames[i].offset, header, 2) && header[1] == 1;
    }
}

bool AviReader::ReadFrame(size_t i, std::vector<uint8_t>& data) {
    const AviFrame& frame = frames.at(i);
    data.resize(frame.available);
    return frame.available == 0 || ReadAt(frame.offset, data.data(), data.size());
}

}  // namespace rq43::cli
