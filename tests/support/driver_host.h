// Raw messages to DriverProc, for tests of what the host layer never sends; instances come from it.
#pragma once

#include "driver/driver_proc.h"
#include "host/codec_host.h"
#include "platform/vfw.h"

namespace rq43::testing {

inline HDRVR Handle(uintptr_t value) {
    return reinterpret_cast<HDRVR>(value);
}

inline LRESULT Send(HDRVR driver, UINT message, LPARAM p1 = 0, LPARAM p2 = 0) {
    return DriverProc(0, driver, message, p1, p2);
}

using ::rq43::Param;
using OpenInstance = DriverInstance;

inline BITMAPINFOHEADER Header(int32_t width, int32_t height, uint16_t bits, uint32_t compression) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = compression;
    header.biSizeImage =
        static_cast<uint32_t>(int64_t{width} * (height < 0 ? -int64_t{height} : height) * bits / 8);
    return header;
}

}  // namespace rq43::testing
