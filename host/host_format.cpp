#include "host/host_format.h"

namespace rq43 {

const char* HostFormatName(HostFormat format) {
    switch (format) {
        case HostFormat::Rgb24:
            return "rgb24";
        case HostFormat::Rgb32:
            return "rgb32";
        case HostFormat::Yuy2:
            return "yuy2";
        case HostFormat::Uyvy:
            return "uyvy";
    }
    return "?";
}

std::optional<HostFormat> ParseHostFormat(const std::string& name) {
    for (HostFormat f : kHostFormats)
        if (name == HostFormatName(f)) return f;
    return std::nullopt;
}

int BytesPerPixel(HostFormat format) {
    switch (format) {
        case HostFormat::Rgb24:
            return 3;
        case HostFormat::Rgb32:
            return 4;
        default:
            return 2;
    }
}

size_t HostPictureBytes(HostFormat format, int width, int height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height) *
           static_cast<size_t>(BytesPerPixel(format));
}

BITMAPINFOHEADER HostHeader(HostFormat format, int width, int height, bool topDown) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = topDown ? -height : height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(8 * BytesPerPixel(format));
    header.biCompression = format == HostFormat::Yuy2   ? FOURCC_YUY2
                           : format == HostFormat::Uyvy ? FOURCC_UYVY
                                                        : BI_RGB;
    header.biSizeImage = static_cast<DWORD>(HostPictureBytes(format, width, height));
    return header;
}

BITMAPINFOHEADER CompressorInputHeader(HostFormat format, int width, int height) {
    const bool rgb = format == HostFormat::Rgb24 || format == HostFormat::Rgb32;
    return HostHeader(format, width, height, rgb);
}

BITMAPINFOHEADER DecompressorOutputHeader(HostFormat format, int width, int height) {
    return HostHeader(format, width, height, true);
}

std::vector<uint8_t> BlackHostPicture(HostFormat format, int width, int height) {
    std::vector<uint8_t> bytes(HostPictureBytes(format, width, height), 0);
    if (format == HostFormat::Uyvy || format == HostFormat::Yuy2) {
        const bool lumaFirst = format == HostFormat::Yuy2;
        for (size_t i = 0; i < bytes.size(); i += 2) {
            bytes[i] = lumaFirst ? 16 : 128;
            bytes[i + 1] = lumaFirst ? 128 : 16;
        }
    }
    return bytes;
}

}  // namespace rq43
