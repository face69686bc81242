// Records, codes and message numbers of the installable-compressor interface, with the field order, widths
// and natural alignment the platform publishes. LONG and DWORD are 32 bits (not C's long), pointers and
// LPARAM are pointer-sized. The same definitions compile for 64-bit Linux, 64-bit Windows and 32-bit
// Windows; the layout checks below pin both pointer widths.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define RQ43_CALLBACK __stdcall
#else
#define RQ43_CALLBACK
#endif

namespace rq43 {

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using WCHAR = uint16_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using DWORD_PTR = uintptr_t;
using HDRVR = void*;
using HWND = void*;
using FOURCC = DWORD;

constexpr FOURCC MakeFourCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<uint8_t>(a)) |
           (static_cast<FOURCC>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<FOURCC>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<FOURCC>(static_cast<uint8_t>(d)) << 24);
}

constexpr FOURCC ICTYPE_VIDEO = MakeFourCC('v', 'i', 'd', 'c');
constexpr FOURCC FOURCC_RQ43 = MakeFourCC('R', 'Q', '4', '3');
constexpr FOURCC FOURCC_YUY2 = MakeFourCC('Y', 'U', 'Y', '2');
constexpr FOURCC FOURCC_UYVY = MakeFourCC('U', 'Y', 'V', 'Y');
constexpr DWORD BI_RGB = 0;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct ICOPEN {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwVersion;
    DWORD dwFlags;
    LRESULT dwError;
    void* pV1Reserved;
    void* pV2Reserved;
    DWORD dnDevNode;
};

struct ICINFO {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwVersion;
    DWORD dwVersionICM;
    WCHAR szName[16];
    WCHAR szDescription[128];
    WCHAR szDriver[128];
};

struct ICCOMPRESS {
    DWORD dwFlags;
    BITMAPINFOHEADER* lpbiOutput;
    void* lpOutput;
    BITMAPINFOHEADER* lpbiInput;
    void* lpInput;
    DWORD* lpckid;
    DWORD* lpdwFlags;
    LONG lFrameNum;
    DWORD dwFrameSize;
    DWORD dwQuality;
    BITMAPINFOHEADER* lpbiPrev;
    void* lpPrev;
};

struct ICDECOMPRESS {
    DWORD dwFlags;
    BITMAPINFOHEADER* lpbiInput;
    void* lpInput;
    BITMAPINFOHEADER* lpbiOutput;
    void* lpOutput;
    DWORD ckid;
};

struct ICDECOMPRESSEX {
    DWORD dwFlags;
    BITMAPINFOHEADER* lpbiSrc;
    void* lpSrc;
    BITMAPINFOHEADER* lpbiDst;
    void* lpDst;
    int32_t xDst, yDst, dxDst, dyDst;
    int32_t xSrc, ySrc, dxSrc, dySrc;
};

struct ICCOMPRESSFRAMES {
    DWORD dwFlags;
    BITMAPINFOHEADER* lpbiOutput;
    LPARAM lOutput;
    BITMAPINFOHEADER* lpbiInput;
    LPARAM lInput;
    LONG lStartFrame;
    LONG lFrameCount;
    LONG lQuality;
    LONG lDataRate;
    LONG lKeyRate;
    DWORD dwRate;
    DWORD dwScale;
    DWORD dwOverheadPerFrame;
    DWORD dwReserved2;
    LONG(RQ43_CALLBACK* GetData)(LPARAM lInput, LONG lFrame, void* lpBits, LONG len);
    LONG(RQ43_CALLBACK* PutData)(LPARAM lOutput, LONG lFrame, void* lpBits, LONG len);
};

using StatusCallback = LONG(RQ43_CALLBACK*)(LPARAM lParam, UINT message, LONG value);

struct ICSETSTATUSPROC {
    DWORD dwFlags;
    LPARAM lParam;
    StatusCallback Status;
};

// Result codes.
constexpr int32_t ICERR_OK = 0;
constexpr int32_t ICERR_UNSUPPORTED = -1;
constexpr int32_t ICERR_BADFORMAT = -2;
constexpr int32_t ICERR_MEMORY = -3;
constexpr int32_t ICERR_INTERNAL = -4;
constexpr int32_t ICERR_BADFLAGS = -5;
constexpr int32_t ICERR_BADPARAM = -6;
constexpr int32_t ICERR_BADSIZE = -7;
constexpr int32_t ICERR_BADHANDLE = -8;
constexpr int32_t ICERR_ERROR = -100;

// Compressor capability flags.
constexpr DWORD VIDCF_QUALITY = 0x0001;
constexpr DWORD VIDCF_CRUNCH = 0x0002;
constexpr DWORD VIDCF_TEMPORAL = 0x0004;
constexpr DWORD VIDCF_COMPRESSFRAMES = 0x0008;
constexpr DWORD VIDCF_DRAW = 0x0010;
constexpr DWORD VIDCF_FASTTEMPORALC = 0x0020;
constexpr DWORD VIDCF_FASTTEMPORALD = 0x0080;
constexpr DWORD ICVERSION = 0x0104;

constexpr DWORD AVIIF_KEYFRAME = 0x00000010;
constexpr DWORD ICCOMPRESS_KEYFRAME = 0x00000001;
constexpr DWORD ICDECOMPRESS_HURRYUP = 0x80000000;
constexpr DWORD ICDECOMPRESS_UPDATE = 0x40000000;
constexpr DWORD ICDECOMPRESS_PREROLL = 0x20000000;
constexpr DWORD ICDECOMPRESS_NULLFRAME = 0x10000000;
constexpr DWORD ICDECOMPRESS_NOTKEYFRAME = 0x08000000;

constexpr UINT ICSTATUS_START = 0;
constexpr UINT ICSTATUS_STATUS = 1;
constexpr UINT ICSTATUS_END = 2;

constexpr LONG ICQUALITY_DEFAULT = -1;

// Driver messages.
constexpr UINT DRV_LOAD = 0x0001;
constexpr UINT DRV_ENABLE = 0x0002;
constexpr UINT DRV_OPEN = 0x0003;
constexpr UINT DRV_CLOSE = 0x0004;
constexpr UINT DRV_DISABLE = 0x0005;
constexpr UINT DRV_FREE = 0x0006;
constexpr UINT DRV_CONFIGURE = 0x0007;
constexpr UINT DRV_QUERYCONFIGURE = 0x0008;
constexpr UINT DRV_INSTALL = 0x0009;
constexpr UINT DRV_REMOVE = 0x000A;
constexpr UINT DRV_USER = 0x4000;

// Compressor messages.
constexpr UINT ICM_USER = DRV_USER;
constexpr UINT ICM_RESERVED = 0x5000;
constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;
constexpr UINT ICM_COMPRESS = ICM_USER + 8;
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;
constexpr UINT ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10;
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;
constexpr UINT ICM_DECOMPRESS_SET_PALETTE = ICM_USER + 29;
constexpr UINT ICM_DECOMPRESS_GET_PALETTE = ICM_USER + 30;
constexpr UINT ICM_GETDEFAULTKEYFRAMERATE = ICM_USER + 42;
constexpr UINT ICM_DECOMPRESSEX_BEGIN = ICM_USER + 60;
constexpr UINT ICM_DECOMPRESSEX_QUERY = ICM_USER + 61;
constexpr UINT ICM_DECOMPRESSEX = ICM_USER + 62;
constexpr UINT ICM_DECOMPRESSEX_END = ICM_USER + 63;
constexpr UINT ICM_COMPRESS_FRAMES_INFO = ICM_USER + 70;
constexpr UINT ICM_COMPRESS_FRAMES = ICM_USER + 71;
constexpr UINT ICM_SET_STATUS_PROC = ICM_USER + 72;
constexpr UINT ICM_GETSTATE = ICM_RESERVED + 0;
constexpr UINT ICM_SETSTATE = ICM_RESERVED + 1;
constexpr UINT ICM_GETINFO = ICM_RESERVED + 2;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED + 10;
constexpr UINT ICM_ABOUT = ICM_RESERVED + 11;
constexpr UINT ICM_GETDEFAULTQUALITY = ICM_RESERVED + 30;
constexpr UINT ICM_GETQUALITY = ICM_RESERVED + 31;
constexpr UINT ICM_SETQUALITY = ICM_RESERVED + 32;
constexpr UINT ICM_SET = ICM_RESERVED + 40;
constexpr UINT ICM_GET = ICM_RESERVED + 41;

// Layout checks: the 64-bit layout (Linux module, 64-bit Windows) and the 32-bit Windows layout.
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(sizeof(ICINFO) == 568);
static_assert(offsetof(ICINFO, szName) == 24);
static_assert(offsetof(ICINFO, szDescription) == 56);
static_assert(offsetof(ICINFO, szDriver) == 312);

constexpr bool kPointer64 = sizeof(void*) == 8;
static_assert(sizeof(void*) == 8 || sizeof(void*) == 4);
static_assert(sizeof(LPARAM) == sizeof(void*));

static_assert(offsetof(ICOPEN, dwFlags) == 16);
static_assert(offsetof(ICOPEN, dwError) == (kPointer64 ? 24 : 20));
static_assert(offsetof(ICOPEN, pV1Reserved) == (kPointer64 ? 32 : 24));
static_assert(offsetof(ICOPEN, dnDevNode) == (kPointer64 ? 48 : 32));
static_assert(sizeof(ICOPEN) == (kPointer64 ? 56 : 36));

static_assert(offsetof(ICCOMPRESS, lpbiOutput) == (kPointer64 ? 8 : 4));
static_assert(offsetof(ICCOMPRESS, lpOutput) == (kPointer64 ? 16 : 8));
static_assert(offsetof(ICCOMPRESS, lpbiInput) == (kPointer64 ? 24 : 12));
static_assert(offsetof(ICCOMPRESS, lpInput) == (kPointer64 ? 32 : 16));
static_assert(offsetof(ICCOMPRESS, lpckid) == (kPointer64 ? 40 : 20));
static_assert(offsetof(ICCOMPRESS, lpdwFlags) == (kPointer64 ? 48 : 24));
static_assert(offsetof(ICCOMPRESS, lFrameNum) == (kPointer64 ? 56 : 28));
static_assert(offsetof(ICCOMPRESS, dwFrameSize) == (kPointer64 ? 60 : 32));
static_assert(offsetof(ICCOMPRESS, dwQuality) == (kPointer64 ? 64 : 36));
static_assert(offsetof(ICCOMPRESS, lpbiPrev) == (kPointer64 ? 72 : 40));
static_assert(offsetof(ICCOMPRESS, lpPrev) == (kPointer64 ? 80 : 44));
static_assert(sizeof(ICCOMPRESS) == (kPointer64 ? 88 : 48));

static_assert(offsetof(ICDECOMPRESS, lpbiInput) == (kPointer64 ? 8 : 4));
static_assert(offsetof(ICDECOMPRESS, lpInput) == (kPointer64 ? 16 : 8));
static_assert(offsetof(ICDECOMPRESS, lpbiOutput) == (kPointer64 ? 24 : 12));
static_assert(offsetof(ICDECOMPRESS, lpOutput) == (kPointer64 ? 32 : 16));
static_assert(offsetof(ICDECOMPRESS, ckid) == (kPointer64 ? 40 : 20));
static_assert(sizeof(ICDECOMPRESS) == (kPointer64 ? 48 : 24));

static_assert(offsetof(ICDECOMPRESSEX, lpbiSrc) == (kPointer64 ? 8 : 4));
static_assert(offsetof(ICDECOMPRESSEX, lpSrc) == (kPointer64 ? 16 : 8));
static_assert(offsetof(ICDECOMPRESSEX, lpbiDst) == (kPointer64 ? 24 : 12));
static_assert(offsetof(ICDECOMPRESSEX, lpDst) == (kPointer64 ? 32 : 16));
static_assert(offsetof(ICDECOMPRESSEX, xDst) == (kPointer64 ? 40 : 20));
static_assert(offsetof(ICDECOMPRESSEX, dySrc) == (kPointer64 ? 68 : 48));
static_assert(sizeof(ICDECOMPRESSEX) == (kPointer64 ? 72 : 52));

static_assert(offsetof(ICCOMPRESSFRAMES, lpbiOutput) == (kPointer64 ? 8 : 4));
static_assert(offsetof(ICCOMPRESSFRAMES, lOutput) == (kPointer64 ? 16 : 8));
static_assert(offsetof(ICCOMPRESSFRAMES, lpbiInput) == (kPointer64 ? 24 : 12));
static_assert(offsetof(ICCOMPRESSFRAMES, lInput) == (kPointer64 ? 32 : 16));
static_assert(offsetof(ICCOMPRESSFRAMES, lStartFrame) == (kPointer64 ? 40 : 20));
static_assert(offsetof(ICCOMPRESSFRAMES, lQuality) == (kPointer64 ? 48 : 28));
static_assert(offsetof(ICCOMPRESSFRAMES, lDataRate) == (kPointer64 ? 52 : 32));
static_assert(offsetof(ICCOMPRESSFRAMES, dwRate) == (kPointer64 ? 60 : 40));
static_assert(offsetof(ICCOMPRESSFRAMES, dwScale) == (kPointer64 ? 64 : 44));
static_assert(offsetof(ICCOMPRESSFRAMES, GetData) == (kPointer64 ? 80 : 56));
static_assert(offsetof(ICCOMPRESSFRAMES, PutData) == (kPointer64 ? 88 : 60));
static_assert(sizeof(ICCOMPRESSFRAMES) == (kPointer64 ? 96 : 64));

static_assert(offsetof(ICSETSTATUSPROC, lParam) == (kPointer64 ? 8 : 4));
static_assert(offsetof(ICSETSTATUSPROC, Status) == (kPointer64 ? 16 : 8));
static_assert(sizeof(ICSETSTATUSPROC) == (kPointer64 ? 24 : 12));

}  // namespace rq43
