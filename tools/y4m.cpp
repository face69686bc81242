#include "y4m.h"

#include <charconv>
#include <sstream>

#include "cli_errors.h"

namespace rq43::cli {
namespace {

constexpr int kMaxDimension = 16384;

bool ParseRatio(const std::string& text, uint32_t& num, uint32_t& den) {
    auto colon = text.find(':');
    if (colon == std::string::npos) return false;
    auto parse = [](const std::string& s, uint32_t& out) {
        auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
        return ec == std::errc() && p == s.data() + s.size();
    };
    return parse(text.substr(0, colon), num) && parse(text.substr(colon + 1), den);
}

}  // namespace

Y4mReader::Y4mReader(std::FILE* file, std::string name) : file(file), name(std::move(name)) {
    std::string line = ReadLine(1024);
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word != "YUV4MPEG2") throw FileFailure(this->name, "not a YUV4MPEG2 stream");
    while (words >> word) {
        char tag = word[0];
        std::string value = word.substr(1);
        if (tag == 'W' || tag == 'H') {
            int64_t n = 0;
            auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc() || p != value.data() + value.size() || n <= 0 || n > kMaxDimension)
                throw FileFailure(this->name, "bad picture size in the YUV4MPEG2 header");
            (tag == 'W' ? header.width : header.height) = static_cast<int>(n);
        } else if (tag == 'F') {
            if (!ParseRatio(value, header.rateNum, header.rateDen) || header.rateNum == 0 || header.rateDen == 0)
                throw FileFailure(this->name, "bad frame rate in the YUV4MPEG2 header");
        } else if (tag == 'C') {
            if (value == "420" || value == "420jpeg" || value == "420paldv" || value == "420mpeg2") header.chroma = Y4mChroma::C420;
            else if (value == "422") header.chroma = Y4mChroma::C422;
            else if (value == "444") header.chroma = Y4mChroma::C444;
            else if (value == "mono") header.chroma = Y4mChroma::Mono;
            else throw FileFailure(this->name, "unsupported pixel format C" + value);
        }
    }
    if (header.width == 0 || header.height == 0) throw FileFailure(this->name, "YUV4MPEG2 header without a size");
}

std::string Y4mReader::ReadLine(size_t limit) {
    std::string line;
    for (;;) {
        int c = std::fgetc(file);
        if (c == EOF) {
            if (line.empty()) return line;
            throw FileFailure(name, "truncated YUV4MPEG2 stream");
        }
        if (c == '\n') return line;
        line.push_back(static_cast<char>(c));
        if (line.size() > limit) throw FileFailure(name, "malformed YUV4MPEG2 stream (overlong header line)");
    }
}

size_t Y4mReader::LumaBytes() const { return static_cast<size_t>(header.width) * static_cast<size_t>(header.height); }

size_t Y4mReader::ChromaBytes() const {
    size_t w = static_cast<size_t>(header.width), h = static_cast<size_t>(header.height);
    switch (header.chroma) {
        case Y4mChroma::C420: return ((w + 1) / 2) * ((h + 1) / 2);
        case Y4mChroma::C422: return ((w + 1) / 2) * h;
        case Y4mChroma::C444: return w * h;
        case Y4mChroma::Mono: return 0;
    }
    return 0;
}

bool Y4mReader::ReadFrame(std::vector<uint8_t>& planes) {
    std::string line = ReadLine(1024);
    if (line.empty() && std::feof(file)) return false;
    if (line.rfind("FRAME", 0) != 0) throw FileFailure(name, "malformed YUV4MPEG2 stream (no FRAME marker)");
    planes.resize(LumaBytes() + 2 * ChromaBytes());
    if (std::fread(planes.data(), 1, planes.size(), file) != planes.size())
        throw FileFailure(name, "truncated YUV4MPEG2 frame");
    return true;
}

Y4mWriter::Y4mWriter(std::FILE* file, std::string name, int width, int height, uint32_t rateNum, uint32_t rateDen)
    : file(file), name(std::move(name)) {
    // The codec's chroma samples sit centred between luma samples in both directions.
    if (std::fprintf(file, "YUV4MPEG2 W%d H%d F%u:%u Ip A1:1 C420jpeg\n", width, height, rateNum, rateDen) < 0)
        throw FileFailure(this->name, "write failed");
}

void Y4mWriter::WriteFrame(const Picture420& picture) {
    bool ok = std::fputs("FRAME\n", file) >= 0;
    ok = ok && std::fwrite(picture.y.data(), 1, picture.y.size(), file) == picture.y.size();
    ok = ok && std::fwrite(picture.u.data(), 1, picture.u.size(), file) == picture.u.size();
    ok = ok && std::fwrite(picture.v.data(), 1, picture.v.size(), file) == picture.v.size();
    if (!ok) throw FileFailure(name, "write failed");
}

}  // namespace rq43::cli
