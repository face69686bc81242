#include "stream_check.h"

#include <cctype>

#include "cli_errors.h"

namespace rq43::cli {

std::string FourCCText(uint32_t code) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>(code >> (8 * i));
        text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    return text;
}

void RequireRq43Stream(const AviReader& reader, const std::string& path) {
    uint32_t code = reader.Format().biCompression;
    if (code != FOURCC_RQ43)
        throw FileFailure(path, "not an RQ43 stream (its video is " + (code == BI_RGB ? std::string("uncompressed RGB")
                                                                                     : "'" + FourCCText(code) + "'") + ")");
    const BITMAPINFOHEADER& f = reader.Format();
    if (f.biWidth <= 0 || f.biHeight == 0 || f.biWidth % 16 != 0 || f.biHeight % 16 != 0 || f.biWidth > 16384 ||
        f.biHeight > 16384 || f.biHeight < -16384)
        throw FileFailure(path, "RQ43 stream with an impossible picture size " + std::to_string(f.biWidth) + "x" +
                                    std::to_string(f.biHeight));
}

}  // namespace rq43::cli
