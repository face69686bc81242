#include "stream_check.h"

#include <cctype>
#include <cstdlib>

extern "C" {
#include <libavcodec/codec_par.h>
}

#include "cli_errors.h"
#include "picture_limits.h"
#include "pipeline/frame_header.h"

namespace rq43::cli {

std::string FourCCText(uint32_t code) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>(code >> (8 * i));
        text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    return text;
}

BITMAPINFOHEADER Rq43StreamFormat(const AVCodecParameters& stream, const std::string& path) {
    const uint32_t code = stream.codec_tag;
    if (code != FOURCC_RQ43)
        throw FileFailure(
            path, "not an RQ43 stream (its video is " +
                      (code == BI_RGB ? std::string("uncompressed RGB") : "'" + FourCCText(code) + "'") +
                      ")");
    const int width = stream.width, height = std::abs(stream.height);
    if (width <= 0 || height == 0 || width % 16 != 0 || height % 16 != 0 || width > 65535 || height > 65535 ||
        static_cast<int64_t>(width) * height > kMaxCodecPixels)
        throw FileFailure(path, "RQ43 stream with an impossible picture size " +
                                    std::to_string(stream.width) + "x" + std::to_string(stream.height));
    BITMAPINFOHEADER format{};
    format.biSize = sizeof format;
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = 24;  // what the codec's compressed format always says
    format.biCompression = FOURCC_RQ43;
    return format;
}

bool IsKeyFrame(const uint8_t* data, size_t size) {
    FrameHeader header;
    return ReadCheckedFrameHeader(data, size, &header) && header.keyFrame == 1;
}

}  // namespace rq43::cli
