#include "driver/codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "config/dialogs.h"
#include "driver/format_negotiation.h"
#include "platform/processor.h"

namespace rq43 {
namespace {

// The host window value that only asks whether a dialog exists.
const HWND kQueryWindow = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

template <size_t N>
void CopyWide(WCHAR (&destination)[N], const char16_t* text) {
    size_t i = 0;
    for (; i + 1 < N && text[i] != 0; ++i) destination[i] = static_cast<WCHAR>(text[i]);
    destination[i] = 0;
}

// Rows of a picture whatever its orientation (a negative height marks a top-down picture).
int32_t Rows(const BITMAPINFOHEADER& header) {
    return header.biHeight < 0 ? -header.biHeight : header.biHeight;
}

}  // namespace

Codec::Codec() = default;

Codec::~Codec() {
    ReleaseBuffers();
}

void Codec::ReleaseBuffers() {
    decompression.Release();
    compression.End();
}

void Codec::Destroy(uint32_t flags) {
    ReleaseBuffers();
    if (flags & 1) delete this;
}

int32_t Codec::About(HWND parent) {
    if (parent == kQueryWindow) return ICERR_OK;
    AboutDialog(parent);
    return ICERR_OK;
}

int32_t Codec::Configure(HWND parent) {
    if (parent == kQueryWindow) return ICERR_OK;
    ConfigureDialog(parent, settings);
    return ICERR_OK;
}

int32_t Codec::GetInfo(ICINFO* info, uint32_t size) {
    if (info == nullptr) return static_cast<int32_t>(sizeof(ICINFO));
    // Work on a copy so that a host buffer shorter than ICINFO is never written past its end.
    ICINFO filled{};
    size_t bytes = std::min<size_t>(size, sizeof(ICINFO));
    std::memcpy(&filled, info, bytes);
    filled.fccType = ICTYPE_VIDEO;
    filled.fccHandler = FOURCC_RQ43;
    filled.dwFlags = kCodecFlags;
    filled.dwVersion = kCodecVersion;
    filled.dwVersionICM = ICVERSION;
    CopyWide(filled.szName, kCodecName);
    CopyWide(filled.szDescription, kCodecDescription);
    std::memcpy(info, &filled, bytes);
    return static_cast<int32_t>(size);
}

int32_t Codec::SetStatusProc(const ICSETSTATUSPROC* record, uint32_t) {
    if (record == nullptr) return ICERR_OK;
    statusParam = record->lParam;
    statusProc = record->Status;
    return ICERR_OK;
}

int32_t Codec::GetQuality(DWORD* out) {
    if (out) *out = static_cast<DWORD>(static_cast<int32_t>(qualitySetting) * 100);
    return ICERR_OK;
}

int32_t Codec::SetQuality(const DWORD* in) {
    if (in) qualitySetting = static_cast<int8_t>(static_cast<uint8_t>(*in / 100));
    return ICERR_OK;
}

int32_t Codec::CompressFramesInfo(const ICCOMPRESSFRAMES* info, uint32_t) {
    if (info == nullptr) return ICERR_OK;
    qualitySetting = static_cast<int8_t>(static_cast<uint8_t>(info->lQuality / 100));
    if (info->dwRate == 0 || info->dwScale == 0) {
        defaultFrameSize = 0;  // no meaningful frame rate, so no per-frame target
        return ICERR_OK;
    }
    double frameRate = static_cast<double>(info->dwRate) / static_cast<double>(info->dwScale);
    double bytes = std::trunc(static_cast<double>(info->lDataRate) / frameRate + 0.5);
    defaultFrameSize = static_cast<int32_t>(
        std::clamp(bytes, static_cast<double>(INT32_MIN), static_cast<double>(INT32_MAX)));
    return ICERR_OK;
}

int32_t Codec::CompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    return rq43::CompressGetFormat(in, out);
}
int32_t Codec::CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return rq43::CompressQuery(in, out);
}
int32_t Codec::CompressGetSize(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return rq43::CompressGetSize(in, out);
}
int32_t Codec::DecompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    return rq43::DecompressGetFormat(in, out);
}
int32_t Codec::DecompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return rq43::DecompressQuery(in, out);
}
int32_t Codec::DecompressExQuery(const ICDECOMPRESSEX* record, uint32_t) {
    return rq43::DecompressExQuery(record);
}

int32_t Codec::CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER*) {
    compression.open = false;
    if (in == nullptr || !DimensionsOk(*in) || !IsUncompressedFormat(*in)) return ICERR_BADFORMAT;
    settings = LoadCodecSettings();
    multiProcessor = platform::ProcessorCount() > 1 ? 1 : 0;
    return compression.Begin(in->biWidth, Rows(*in), in->biBitCount, settings, multiProcessor != 0,
                             qualitySetting);
}

int32_t Codec::Compress(ICCOMPRESS* record, uint32_t) {
    if (record == nullptr) return ICERR_BADFORMAT;
    FrameOptions options;
    options.autoKeyInsert = settings.autoKeyInsert;
    options.strongCompression = settings.strongCompression;
    options.prefilterStrength = settings.prefilterStrength;
    options.prefilterIterations = settings.prefilterIterations;
    options.defaultFrameSize = defaultFrameSize;
    options.status = {statusProc, statusParam};
    return compression.Compress(*record, qualitySetting, options);
}

int32_t Codec::CompressEnd() {
    compression.End();
    defaultFrameSize = 0;
    return ICERR_OK;
}

// The output must be a picture the sequence can write; an input header, when given, must be of its size.
int32_t Codec::DecompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    decompression.open = false;
    if (out == nullptr || !DimensionsOk(*out)) return ICERR_BADFORMAT;
    const OutputFormatCode code = OutputFormatOf(*out);
    if (code == OutputFormatCode::None) return ICERR_BADFORMAT;
    if (in != nullptr && (in->biWidth != out->biWidth || Rows(*in) != Rows(*out))) return ICERR_BADFORMAT;
    return decompression.Begin(out->biWidth, Rows(*out), code);
}

int32_t Codec::DecompressExBegin(const ICDECOMPRESSEX* record, uint32_t) {
    if (record == nullptr) return ICERR_BADFORMAT;
    return DecompressBegin(record->lpbiSrc, record->lpbiDst);
}

// The chunk's length is the input header's biSizeImage, and no byte beyond it is read. An empty chunk is
// how an AVI stores a dropped frame: like update and null frames it leaves everything as it was.
int32_t Codec::DecodeChunk(DWORD flags, const BITMAPINFOHEADER* input, const void* frame,
                           const BITMAPINFOHEADER* output, void* pixels) {
    if (!decompression.open || input == nullptr || output == nullptr) return ICERR_BADFORMAT;
    if (flags & (ICDECOMPRESS_UPDATE | ICDECOMPRESS_NULLFRAME) || input->biSizeImage == 0) return ICERR_OK;
    return decompression.DecodeFrame(*output, static_cast<const uint8_t*>(frame), input->biSizeImage,
                                     static_cast<uint8_t*>(pixels));
}

int32_t Codec::Decompress(const ICDECOMPRESS* record, uint32_t) {
    if (record == nullptr) return ICERR_BADFORMAT;
    return DecodeChunk(record->dwFlags, record->lpbiInput, record->lpInput, record->lpbiOutput,
                       record->lpOutput);
}

int32_t Codec::DecompressEx(const ICDECOMPRESSEX* record, uint32_t) {
    if (record == nullptr) return ICERR_BADFORMAT;
    return DecodeChunk(record->dwFlags, record->lpbiSrc, record->lpSrc, record->lpbiDst, record->lpDst);
}

int32_t Codec::DecompressEnd() {
    decompression.End();
    return ICERR_OK;
}

}  // namespace rq43
