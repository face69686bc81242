// A minimal host: opens instances through DriverProc and sends messages, as the compression manager does.
#pragma once

#include "driver/driver_proc.h"
#include "platform/vfw.h"

namespace rq43::testing {

inline HDRVR Handle(uintptr_t value) { return reinterpret_cast<HDRVR>(value); }

inline LRESULT Send(HDRVR driver, UINT message, LPARAM p1 = 0, LPARAM p2 = 0) {
    return DriverProc(0, driver, message, p1, p2);
}

template <typename T>
LPARAM Param(T* pointer) {
    return reinterpret_cast<LPARAM>(pointer);
}

inline BITMAPINFOHEADER Header(int32_t width, int32_t height, uint16_t bits, uint32_t compression) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = compression;
    header.biSizeImage = static_cast<uint32_t>(int64_t{width} * (height < 0 ? -int64_t{height} : height) * bits / 8);
    return header;
}

// Opens a video compressor instance under `driver` and closes it again at scope end.
class OpenInstance {
public:
    explicit OpenInstance(uintptr_t handle) : driver(Handle(handle)) {
        ICOPEN open{};
        open.dwSize = sizeof open;
        open.fccType = ICTYPE_VIDEO;
        open.fccHandler = FOURCC_RQ43;
        instance = Send(driver, DRV_OPEN, 0, Param(&open));
    }
    ~OpenInstance() { Send(driver, DRV_CLOSE); }
    OpenInstance(const OpenInstance&) = delete;
    OpenInstance& operator=(const OpenInstance&) = delete;

    LRESULT Message(UINT message, LPARAM p1 = 0, LPARAM p2 = 0) const { return Send(driver, message, p1, p2); }
    HDRVR driver;
    LRESULT instance = 0;
};

}  // namespace rq43::testing
