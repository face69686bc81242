#include <cerrno>
#include <cstring>
#include <limits>

#include "avi.h"
#include "cli_errors.h"

namespace rq43::cli {
namespace {

constexpr uint32_t kAviHasIndex = 0x10;
constexpr uint32_t kAviIsInterleaved = 0x100;
constexpr uint32_t kHdrlSize = 4 + (8 + 56) + (8 + 4 + (8 + 56) + (8 + 40));
constexpr long kMoviListStart = 12 + 8 + kHdrlSize;

struct Bytes {
    std::vector<uint8_t> data;
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U16(uint16_t v) {
        data.push_back(static_cast<uint8_t>(v));
        data.push_back(static_cast<uint8_t>(v >> 8));
    }
    void Tag(const char* fourcc) { data.insert(data.end(), fourcc, fourcc + 4); }
};

}  // namespace

AviWriter::AviWriter(const std::string& path, const BITMAPINFOHEADER& format, uint32_t rate, uint32_t scale)
    : path(path), format(format), rate(rate), scale(scale) {
    file = std::fopen(path.c_str(), "wb");
    if (!file) throw FileFailure(path, std::strerror(errno));
    WriteHeaders(4, 0);
}

AviWriter::~AviWriter() {
    if (file) std::fclose(file);
}

void AviWriter::Check(bool ok) {
    if (!ok) throw FileFailure(path, std::string("write failed: ") + std::strerror(errno));
}

void AviWriter::WriteHeaders(uint32_t moviSize, uint32_t riffSize) {
    const uint32_t frames = static_cast<uint32_t>(index.size());
    const uint32_t width = static_cast<uint32_t>(format.biWidth);
    const uint32_t height = static_cast<uint32_t>(format.biHeight < 0 ? -format.biHeight : format.biHeight);
    double frameRate = static_cast<double>(rate) / static_cast<double>(scale);

    Bytes b;
    b.Tag("RIFF"), b.U32(riffSize), b.Tag("AVI ");
    b.Tag("LIST"), b.U32(kHdrlSize), b.Tag("hdrl");
    b.Tag("avih"), b.U32(56);
    b.U32(static_cast<uint32_t>(1e6 / frameRate + 0.5));                     // microseconds per frame
    b.U32(static_cast<uint32_t>(static_cast<double>(largestFrame) * frameRate));  // max bytes per second
    b.U32(0), b.U32(kAviHasIndex | kAviIsInterleaved), b.U32(frames), b.U32(0), b.U32(1);
    b.U32(largestFrame), b.U32(width), b.U32(height), b.U32(0), b.U32(0), b.U32(0), b.U32(0);
    b.Tag("LIST"), b.U32(4 + (8 + 56) + (8 + 40)), b.Tag("strl");
    b.Tag("strh"), b.U32(56), b.Tag("vids"), b.Tag("RQ43");
    b.U32(0), b.U16(0), b.U16(0), b.U32(0), b.U32(scale), b.U32(rate), b.U32(0), b.U32(frames);
    b.U32(largestFrame), b.U32(0xFFFFFFFF), b.U32(0);
    b.U16(0), b.U16(0), b.U16(static_cast<uint16_t>(width)), b.U16(static_cast<uint16_t>(height));
    b.Tag("strf"), b.U32(40);
    b.U32(40), b.U32(static_cast<uint32_t>(format.biWidth)), b.U32(height), b.U16(1), b.U16(format.biBitCount);
    b.U32(format.biCompression), b.U32(format.biSizeImage), b.U32(0), b.U32(0), b.U32(0), b.U32(0);
    b.Tag("LIST"), b.U32(moviSize), b.Tag("movi");
    Check(b.data.size() == static_cast<size_t>(kMoviListStart + 12));
    Check(std::fseek(file, 0, SEEK_SET) == 0);
    Check(std::fwrite(b.data.data(), 1, b.data.size(), file) == b.data.size());
}

void AviWriter::WriteFrame(const uint8_t* data, size_t size, bool key) {
    long position = std::ftell(file);
    // Plain AVI offsets and sizes are 32-bit; refuse rather than write a file no reader can follow.
    if (position < 0 || static_cast<uint64_t>(position) + size + 16 * (index.size() + 2) >
                            std::numeric_limits<uint32_t>::max() - 64)
        throw FileFailure(path, "the AVI file would exceed 4 GiB");
    Bytes b;
    b.Tag("00dc"), b.U32(static_cast<uint32_t>(size));
    Check(std::fwrite(b.data.data(), 1, 8, file) == 8);
    Check(size == 0 || std::fwrite(data, 1, size, file) == size);
    if (size % 2) Check(std::fputc(0, file) != EOF);
    index.push_back({static_cast<uint32_t>(position - (kMoviListStart + 8)), static_cast<uint32_t>(size),
                     key ? AVIIF_KEYFRAME : 0u});
    if (size > largestFrame) largestFrame = static_cast<uint32_t>(size);
}

void AviWriter::Finish() {
    long moviEnd = std::ftell(file);
    Bytes b;
    b.Tag("idx1"), b.U32(static_cast<uint32_t>(16 * index.size()));
    for (const IndexEntry& e : index) b.Tag("00dc"), b.U32(e.flags), b.U32(e.offset), b.U32(e.size);
    Check(std::fwrite(b.data.data(), 1, b.data.size(), file) == b.data.size());
    long end = std::ftell(file);
    // RIFF covers everything after its own size field; movi ends where idx1 starts.
    WriteHeaders(static_cast<uint32_t>(moviEnd - kMoviListStart - 8), static_cast<uint32_t>(end - 8));
    Check(std::fclose(file) == 0);
    file = nullptr;
}

}  // namespace rq43::cli
