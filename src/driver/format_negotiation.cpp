#include "driver/format_negotiation.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "pipeline/frame_header.h"

namespace rq43 {
namespace {

// MaxFrameBytes must fit the 32-bit size answer, or a host would size its buffer from a wrapped value.
constexpr int64_t kMaxPixels = (INT32_MAX - static_cast<int64_t>(kFrameHeaderSize)) / 4;

enum class RgbDepths { Both, Only24 };

bool DecodedFormatOk(const BITMAPINFOHEADER& in, const BITMAPINFOHEADER& out, RgbDepths rgb) {
    if (out.biWidth != in.biWidth) return false;
    if (out.biHeight != in.biHeight && out.biHeight != -static_cast<int64_t>(in.biHeight)) return false;
    if (out.biCompression == BI_RGB)
        return out.biBitCount == 24 || (rgb == RgbDepths::Both && out.biBitCount == 32);
    return (out.biCompression == FOURCC_YUY2 || out.biCompression == FOURCC_UYVY) && out.biBitCount == 16;
}

bool IsCompressedFormat(const BITMAPINFOHEADER& header) {
    return header.biCompression == FOURCC_RQ43 && header.biBitCount == 24;
}

// Copies the input header, never reading past its biSize nor writing past the 112 bytes the size
// query promised. A header shorter than the plain record cannot be described and is refused.
bool CopyHeader(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (in->biSize < sizeof(BITMAPINFOHEADER)) return false;
    std::memmove(out, in, std::min<size_t>(in->biSize, kFormatHeaderBytes));
    return true;
}

}  // namespace

bool DimensionsOk(const BITMAPINFOHEADER& header) {
    if (header.biWidth <= 0 || header.biHeight == 0) return false;
    if (header.biWidth % 16 != 0 || header.biHeight % 16 != 0) return false;
    return static_cast<int64_t>(header.biWidth) * std::abs(static_cast<int64_t>(header.biHeight)) <=
           kMaxPixels;
}

bool IsUncompressedFormat(const BITMAPINFOHEADER& header) {
    if (header.biCompression == BI_RGB) return header.biBitCount == 24 || header.biBitCount == 32;
    if (header.biCompression == FOURCC_YUY2 || header.biCompression == FOURCC_UYVY)
        return header.biBitCount == 16;
    return false;
}

int32_t CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (in == nullptr || !DimensionsOk(*in) || !IsUncompressedFormat(*in)) return ICERR_BADFORMAT;
    if (out == nullptr) return ICERR_OK;
    bool same = out->biWidth == in->biWidth && out->biHeight == in->biHeight && IsCompressedFormat(*out);
    return same ? ICERR_OK : ICERR_BADFORMAT;
}

int32_t CompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (out == nullptr) return kFormatHeaderBytes;
    if (in == nullptr || !CopyHeader(in, out)) return ICERR_BADFORMAT;
    out->biBitCount = 24;
    out->biCompression = FOURCC_RQ43;
    return ICERR_OK;
}

// A picture the codec cannot take has no bound; its size would not even fit the answer.
int32_t CompressGetSize(const BITMAPINFOHEADER*, const BITMAPINFOHEADER* out) {
    if (out == nullptr || !DimensionsOk(*out)) return ICERR_BADFORMAT;
    const uint64_t bytes =
        MaxFrameBytes(static_cast<uint32_t>(out->biWidth),
                      static_cast<uint32_t>(std::abs(static_cast<int64_t>(out->biHeight))));
    return static_cast<int32_t>(static_cast<uint32_t>(bytes));
}

int32_t DecompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (in == nullptr || !DimensionsOk(*in) || !IsCompressedFormat(*in)) return ICERR_BADFORMAT;
    if (out == nullptr) return ICERR_OK;
    return DecodedFormatOk(*in, *out, RgbDepths::Both) ? ICERR_OK : ICERR_BADFORMAT;
}

int32_t DecompressExQuery(const ICDECOMPRESSEX* record) {
    if (record == nullptr) return ICERR_BADFORMAT;
    const BITMAPINFOHEADER* in = record->lpbiSrc;
    if (in == nullptr || !DimensionsOk(*in) || !IsCompressedFormat(*in)) return ICERR_BADFORMAT;
    if (record->lpbiDst == nullptr) return ICERR_OK;
    return DecodedFormatOk(*in, *record->lpbiDst, RgbDepths::Only24) ? ICERR_OK : ICERR_BADFORMAT;
}

int32_t DecompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (out == nullptr) return kFormatHeaderBytes;
    if (in == nullptr || !DimensionsOk(*in) || !CopyHeader(in, out)) return ICERR_BADFORMAT;
    out->biBitCount = 32;
    out->biCompression = BI_RGB;
    int64_t bytes = static_cast<int64_t>(out->biWidth) * std::abs(static_cast<int64_t>(out->biHeight)) * 4;
    out->biSizeImage = static_cast<DWORD>(bytes);
    return ICERR_OK;
}

}  // namespace rq43
