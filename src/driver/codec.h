// One open driver handle: the instance's quality, settings and status callback, and (through the
// pipeline) its compression and decompression sequences.
#pragma once

#include "config/settings_store.h"
#include "driver/codec_base.h"
#include "pipeline/compression_sequence.h"
#include "pipeline/decompression_sequence.h"

namespace rq43 {

inline constexpr char16_t kCodecName[] = u"RQ43 Codec";
inline constexpr char16_t kCodecDescription[] = u"Parlux Tevra43 Codec";
inline constexpr DWORD kCodecFlags = VIDCF_QUALITY | VIDCF_CRUNCH | VIDCF_TEMPORAL | VIDCF_COMPRESSFRAMES |
                                     VIDCF_FASTTEMPORALC | VIDCF_FASTTEMPORALD;
inline constexpr DWORD kCodecVersion = 0x00010000;

class Codec final : public CodecBase {
  public:
    Codec();
    ~Codec() override;

    void Destroy(uint32_t flags) override;
    int32_t About(HWND parent) override;
    int32_t Configure(HWND parent) override;
    int32_t GetInfo(ICINFO* info, uint32_t size) override;
    int32_t SetStatusProc(const ICSETSTATUSPROC* record, uint32_t size) override;
    int32_t GetQuality(DWORD* out) override;
    int32_t SetQuality(const DWORD* in) override;
    int32_t CompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) override;
    int32_t CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) override;
    int32_t CompressGetSize(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) override;
    int32_t CompressFramesInfo(const ICCOMPRESSFRAMES* info, uint32_t size) override;
    int32_t CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) override;
    int32_t Compress(ICCOMPRESS* record, uint32_t size) override;
    int32_t CompressEnd() override;
    int32_t DecompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) override;
    int32_t DecompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) override;
    int32_t DecompressExQuery(const ICDECOMPRESSEX* record, uint32_t size) override;
    int32_t DecompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) override;
    int32_t DecompressExBegin(const ICDECOMPRESSEX* record, uint32_t size) override;
    int32_t Decompress(const ICDECOMPRESS* record, uint32_t size) override;
    int32_t DecompressEx(const ICDECOMPRESSEX* record, uint32_t size) override;
    int32_t DecompressEnd() override;

    // The instance's state. Hosts reach it only through the operations above, which alone write it (the
    // Configure dialog edits `settings` in place, also during a sequence); it is public so that tests
    // can see what an operation did. Nothing else may write it.
    int8_t qualitySetting = 90;  // 0..100, ceiling of the per-frame quality search
    CodecSettings settings{0, 0, 1, 0, 0, 1};
    uint8_t multiProcessor = 0;
    int32_t defaultFrameSize = 0;  // per-frame byte target from CompressFramesInfo; 0 = none
    LPARAM statusParam = 0;
    StatusCallback statusProc = nullptr;

    CompressionSequence compression;
    DecompressionSequence decompression;

  private:
    void ReleaseBuffers();
    int32_t DecodeChunk(DWORD flags, const BITMAPINFOHEADER* input, const void* frame,
                        const BITMAPINFOHEADER* output, void* pixels);
};

}  // namespace rq43
