// The operations of one open driver handle, in the fixed slot order of the compressor interface.
// Every operation answers with an ICERR_* code or a byte count; no exception leaves an operation
// through DriverProc (the dispatcher catches at the boundary).
#pragma once

#include <cstdint>

#include "platform/vfw.h"

namespace rq43 {

class CodecBase {
  public:
    CodecBase() = default;
    virtual ~CodecBase() = default;
    CodecBase(const CodecBase&) = delete;
    CodecBase& operator=(const CodecBase&) = delete;

    // Slot 0: releases every buffer; bit 0 of flags also releases the object itself.
    virtual void Destroy(uint32_t flags) = 0;
    virtual int32_t About(HWND parent) = 0;
    virtual int32_t Configure(HWND parent) = 0;
    virtual int32_t GetInfo(ICINFO* info, uint32_t size) = 0;
    virtual int32_t SetStatusProc(const ICSETSTATUSPROC* record, uint32_t size) = 0;
    virtual int32_t GetQuality(DWORD* out) = 0;
    virtual int32_t SetQuality(const DWORD* in) = 0;
    virtual int32_t CompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) = 0;
    virtual int32_t CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) = 0;
    virtual int32_t CompressGetSize(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) = 0;
    virtual int32_t CompressFramesInfo(const ICCOMPRESSFRAMES* info, uint32_t size) = 0;
    virtual int32_t CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) = 0;
    virtual int32_t Compress(ICCOMPRESS* record, uint32_t size) = 0;
    virtual int32_t CompressEnd() = 0;
    virtual int32_t DecompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) = 0;
    virtual int32_t DecompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) = 0;
    virtual int32_t DecompressExQuery(const ICDECOMPRESSEX* record, uint32_t size) = 0;
    virtual int32_t DecompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) = 0;
    virtual int32_t DecompressExBegin(const ICDECOMPRESSEX* record, uint32_t size) = 0;
    virtual int32_t Decompress(const ICDECOMPRESS* record, uint32_t size) = 0;
    virtual int32_t DecompressEx(const ICDECOMPRESSEX* record, uint32_t size) = 0;
    virtual int32_t DecompressEnd() = 0;
};

}  // namespace rq43
