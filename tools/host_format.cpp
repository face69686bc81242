#include "host_format.h"

#include "picture/picture_kernels.h"

namespace rq43::cli {

const char* HostFormatName(HostFormat format) {
    switch (format) {
        case HostFormat::Rgb24: return "rgb24";
        case HostFormat::Rgb32: return "rgb32";
        case HostFormat::Yuy2: return "yuy2";
        case HostFormat::Uyvy: return "uyvy";
    }
    return "?";
}

std::optional<HostFormat> ParseHostFormat(const std::string& name) {
    for (HostFormat f : {HostFormat::Rgb24, HostFormat::Rgb32, HostFormat::Yuy2, HostFormat::Uyvy})
        if (name == HostFormatName(f)) return f;
    return std::nullopt;
}

int BytesPerPixel(HostFormat format) {
    switch (format) {
        case HostFormat::Rgb24: return 3;
        case HostFormat::Rgb32: return 4;
        default: return 2;
    }
}

size_t HostPictureBytes(HostFormat format, int width, int height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(BytesPerPixel(format));
}

namespace {

BITMAPINFOHEADER Header(HostFormat format, int width, int height) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(8 * BytesPerPixel(format));
    header.biCompression = format == HostFormat::Yuy2   ? FOURCC_YUY2
                           : format == HostFormat::Uyvy ? FOURCC_UYVY
                                                        : BI_RGB;
    header.biSizeImage = static_cast<DWORD>(HostPictureBytes(format, width, height < 0 ? -height : height));
    return header;
}

}  // namespace

BITMAPINFOHEADER CompressorInputHeader(HostFormat format, int width, int height) {
    bool rgb = format == HostFormat::Rgb24 || format == HostFormat::Rgb32;
    return Header(format, width, rgb ? -height : height);
}

BITMAPINFOHEADER DecompressorOutputHeader(HostFormat format, int width, int height) {
    return Header(format, width, -height);
}

void UyvyToPicture420(const uint8_t* uyvy, int width, int height, Picture420& picture) {
    if (picture.width != width || picture.height != height) picture.Allocate(width, height);
    if (width <= 0 || height <= 0) return;
    // The codec's byte-split kernel: U, V, U, V ... of a row on one side, its luma on the other, then the
    // chroma of every other row split once more.
    const dsp::PictureKernels& kernels = ActivePictureKernels();
    const auto w = static_cast<size_t>(width);
    const size_t chromaWidth = static_cast<size_t>(picture.ChromaWidth());
    std::vector<uint8_t> chroma(w);
    for (int row = 0; row < height; ++row) {
        const uint8_t* line = uyvy + static_cast<size_t>(row) * 2 * w;
        kernels.deinterleaveRow(line, static_cast<uint32_t>(width), chroma.data(), &picture.y[row * w]);
        if (row % 2 != 0) continue;
        uint8_t* u = &picture.u[static_cast<size_t>(row / 2) * chromaWidth];
        uint8_t* v = &picture.v[static_cast<size_t>(row / 2) * chromaWidth];
        kernels.deinterleaveRow(chroma.data(), static_cast<uint32_t>(width / 2), u, v);
        if (width % 2 != 0) {  // a last pixel without its pair has a U and no V of its own
            u[w / 2] = chroma[w - 1];
            v[w / 2] = w > 1 ? v[w / 2 - 1] : 128;
        }
    }
}

std::vector<uint8_t> BlackHostPicture(HostFormat format, int width, int height) {
    std::vector<uint8_t> bytes(HostPictureBytes(format, width, height), 0);
    if (format == HostFormat::Uyvy || format == HostFormat::Yuy2) {
        bool lumaFirst = format == HostFormat::Yuy2;
        for (size_t i = 0; i < bytes.size(); i += 2) {
            bytes[i] = lumaFirst ? 16 : 128;
            bytes[i + 1] = lumaFirst ? 128 : 16;
        }
    }
    return bytes;
}

}  // namespace rq43::cli
