#include "driver/driver_proc.h"

#include <memory>
#include <new>

#include "driver/codec.h"
#include "driver/instance_table.h"
#include "platform/driver_services.h"

namespace rq43 {
namespace {

template <typename T>
T* Pointer(LPARAM value) {
    return reinterpret_cast<T*>(value);
}

uint32_t Size(LPARAM value) {
    return static_cast<uint32_t>(value);
}

LRESULT Open(HDRVR driver, ICOPEN* open) {
    if (open != nullptr && open->fccType != ICTYPE_VIDEO) return 0;
    Codec* codec = new (std::nothrow) Codec();
    try {
        Instances().Add(driver, codec);
    } catch (const std::bad_alloc&) {
        if (open) open->dwError = ICERR_MEMORY;
        return 0;  // no room for an entry: the open fails and leaves nothing behind
    }
    if (open) open->dwError = codec ? ICERR_OK : ICERR_MEMORY;
    return reinterpret_cast<LRESULT>(codec);
}

LRESULT Close(HDRVR driver) {
    Instances().Close(driver);
    return 1;
}

LRESULT StoreDword(LPARAM target, DWORD value) {
    if (DWORD* out = Pointer<DWORD>(target)) *out = value;
    return 0;
}

// Messages that are answered by an instance operation; a handle without an instance answers -1.
LRESULT Forward(CodecBase& codec, UINT message, LPARAM p1, LPARAM p2) {
    switch (message) {
        case ICM_COMPRESS_GET_FORMAT:
            return codec.CompressGetFormat(Pointer<const BITMAPINFOHEADER>(p1),
                                           Pointer<BITMAPINFOHEADER>(p2));
        case ICM_COMPRESS_GET_SIZE:
            return codec.CompressGetSize(Pointer<const BITMAPINFOHEADER>(p1),
                                         Pointer<const BITMAPINFOHEADER>(p2));
        case ICM_COMPRESS_QUERY:
            return codec.CompressQuery(Pointer<const BITMAPINFOHEADER>(p1),
                                       Pointer<const BITMAPINFOHEADER>(p2));
        case ICM_COMPRESS_BEGIN:
            return codec.CompressBegin(Pointer<const BITMAPINFOHEADER>(p1),
                                       Pointer<const BITMAPINFOHEADER>(p2));
        case ICM_COMPRESS:
            return codec.Compress(Pointer<ICCOMPRESS>(p1), Size(p2));
        case ICM_COMPRESS_END:
            return codec.CompressEnd();
        case ICM_DECOMPRESS_GET_FORMAT:
            return codec.DecompressGetFormat(Pointer<const BITMAPINFOHEADER>(p1),
                                             Pointer<BITMAPINFOHEADER>(p2));
        case ICM_DECOMPRESS_QUERY:
            return codec.DecompressQuery(Pointer<const BITMAPINFOHEADER>(p1),
                                         Pointer<const BITMAPINFOHEADER>(p2));
        case ICM_DECOMPRESS_BEGIN:
            return codec.DecompressBegin(Pointer<const BITMAPINFOHEADER>(p1),
                                         Pointer<const BITMAPINFOHEADER>(p2));
        case ICM_DECOMPRESS:
            return codec.Decompress(Pointer<const ICDECOMPRESS>(p1), Size(p2));
        case ICM_DECOMPRESS_END:
        case ICM_DECOMPRESSEX_END:
            return codec.DecompressEnd();
        case ICM_DECOMPRESSEX_BEGIN:
            return codec.DecompressExBegin(Pointer<const ICDECOMPRESSEX>(p1), Size(p2));
        case ICM_DECOMPRESSEX_QUERY:
            return codec.DecompressExQuery(Pointer<const ICDECOMPRESSEX>(p1), Size(p2));
        case ICM_DECOMPRESSEX:
            return codec.DecompressEx(Pointer<const ICDECOMPRESSEX>(p1), Size(p2));
        case ICM_COMPRESS_FRAMES_INFO:
            return codec.CompressFramesInfo(Pointer<const ICCOMPRESSFRAMES>(p1), Size(p2));
        case ICM_SET_STATUS_PROC:
            return codec.SetStatusProc(Pointer<const ICSETSTATUSPROC>(p1), Size(p2));
        case ICM_GETINFO:
            return codec.GetInfo(Pointer<ICINFO>(p1), Size(p2));
        case ICM_CONFIGURE:
            return codec.Configure(Pointer<void>(p1));
        case ICM_ABOUT:
            return codec.About(Pointer<void>(p1));
        case ICM_GETQUALITY:
            return p1 ? codec.GetQuality(Pointer<DWORD>(p1)) : 0;
        case ICM_SETQUALITY:
            return p1 ? codec.SetQuality(Pointer<const DWORD>(p1)) : 0;
        default:
            return ICERR_UNSUPPORTED;
    }
}

LRESULT Dispatch(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM p1, LPARAM p2) {
    switch (message) {
        case DRV_LOAD:
        case DRV_ENABLE:
        case DRV_DISABLE:
        case DRV_FREE:
        case DRV_INSTALL:
        case DRV_REMOVE:
            return 1;
        case DRV_OPEN:
            return Open(driver, Pointer<ICOPEN>(p2));
        case DRV_CLOSE:
            return Close(driver);
        case DRV_CONFIGURE:
            return -1;
        case DRV_QUERYCONFIGURE:
            return 0;
        case ICM_DECOMPRESS_SET_PALETTE:
        case ICM_DECOMPRESS_GET_PALETTE:
            return ICERR_UNSUPPORTED;
        case ICM_GETDEFAULTKEYFRAMERATE:
            return StoreDword(p1, 25);
        case ICM_GETDEFAULTQUALITY:
            return StoreDword(p1, 7000);
        case ICM_GETSTATE:
        case ICM_SETSTATE:
        case ICM_GET:
            return 0;
        default:
            break;
    }
    if (message < DRV_USER) return platform::DefDriverProc(driverId, driver, message, p1, p2);
    // Held for the message, so a close on another thread cannot destroy the instance under it.
    const std::shared_ptr<CodecBase> codec = Instances().Find(driver);
    if (codec == nullptr) return ICERR_UNSUPPORTED;
    return Forward(*codec, message, p1, p2);
}

}  // namespace

LRESULT DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2) {
    try {
        return Dispatch(driverId, driver, message, lParam1, lParam2);
    } catch (const std::bad_alloc&) {
        return message == DRV_OPEN ? 0 : ICERR_MEMORY;
    } catch (...) {
        return message == DRV_OPEN ? 0 : ICERR_INTERNAL;
    }
}

}  // namespace rq43
