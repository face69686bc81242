#include "driver_host.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace rq43::players {
namespace {

constexpr const char* kModuleName = "librq43.so";

std::string ModuleBesidePlugin() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadDriverProc), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash + 1);
    path += kModuleName;
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? path : std::string();
}

DriverProcFunction Load(std::string* error) {
    std::string path;
    if (const char* chosen = std::getenv("RQ43_MODULE"); chosen != nullptr && *chosen != '\0')
        path = chosen;
    else
        path = ModuleBesidePlugin();
    if (path.empty()) path = kModuleName;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        *error = std::string("cannot load the RQ43 codec module: ") + dlerror();
        return nullptr;
    }
    auto entry = reinterpret_cast<DriverProcFunction>(dlsym(module, "DriverProc"));
    if (entry == nullptr) {
        *error = path + " exports no DriverProc";
        dlclose(module);
    }
    return entry;
}

int BytesPerPixel(PictureFormat format) {
    switch (format) {
        case PictureFormat::Bgr24:
            return 3;
        case PictureFormat::Bgrx32:
            return 4;
        default:
            return 2;
    }
}

}  // namespace

DriverProcFunction LoadDriverProc(std::string* error) {
    static std::once_flag once;
    static DriverProcFunction entry = nullptr;
    static std::string loadError;
    std::call_once(once, [] { entry = Load(&loadError); });
    if (entry == nullptr) *error = loadError;
    return entry;
}

size_t PictureBytes(PictureFormat format, int width, int height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height) *
           static_cast<size_t>(BytesPerPixel(format));
}

bool IsKeyFrame(const uint8_t* frame, size_t size) {
    return frame != nullptr && size >= 2 && frame[1] == 1;
}

StreamDecoder::~StreamDecoder() {
    Close();
}

LRESULT StreamDecoder::Send(UINT message, LPARAM p1, LPARAM p2) {
    return driverProc(driverId, Handle(), message, p1, p2);
}

bool StreamDecoder::Open(int width, int height, PictureFormat format, std::string* error) {
    Close();
    driverProc = LoadDriverProc(error);
    if (driverProc == nullptr) return false;

    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = FOURCC_RQ43;
    LRESULT id = driverProc(0, Handle(), DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open));
    if (id == 0 || open.dwError != ICERR_OK) {
        driverProc(0, Handle(), DRV_CLOSE, 0, 0);
        *error = "the RQ43 codec cannot open an instance (error " + std::to_string(open.dwError) + ")";
        return false;
    }
    driverId = static_cast<DWORD_PTR>(id);
    opened = true;

    input = BITMAPINFOHEADER{};
    input.biSize = sizeof input;
    input.biWidth = width;
    input.biHeight = height;
    input.biPlanes = 1;
    input.biBitCount = 24;
    input.biCompression = FOURCC_RQ43;

    output = BITMAPINFOHEADER{};
    output.biSize = sizeof output;
    output.biWidth = width;
    output.biHeight = -height;  // top row first; a positive height would turn RGB upside down
    output.biPlanes = 1;
    output.biBitCount = static_cast<WORD>(8 * BytesPerPixel(format));
    output.biCompression = format == PictureFormat::Uyvy   ? FOURCC_UYVY
                           : format == PictureFormat::Yuy2 ? FOURCC_YUY2
                                                           : BI_RGB;
    output.biSizeImage = static_cast<DWORD>(PictureBytes(format, width, height));
    rowBytes = PictureBytes(format, width, 1);
    rows = height;

    auto in = reinterpret_cast<LPARAM>(&input);
    auto out = reinterpret_cast<LPARAM>(&output);
    LRESULT r = Send(ICM_DECOMPRESS_QUERY, in, out);
    if (r == ICERR_OK) r = Send(ICM_DECOMPRESS_BEGIN, in, out);
    if (r != ICERR_OK) {
        *error = "the RQ43 codec refuses to decode " + std::to_string(width) + "x" + std::to_string(height) +
                 " pictures (error " + std::to_string(r) + ")";
        Close();
        return false;
    }
    begun = true;
    haveReference = false;
    return true;
}

void StreamDecoder::Close() {
    if (begun) Send(ICM_DECOMPRESS_END);
    if (opened) Send(DRV_CLOSE);
    begun = opened = haveReference = false;
}

DecodeResult StreamDecoder::Decode(const uint8_t* frame, size_t size, uint8_t* picture, size_t pitch) {
    if (size == 0) return DecodeResult::NullFrame;
    if (!haveReference && !IsKeyFrame(frame, size)) return DecodeResult::WaitingKey;
    // The chunk's length goes with it: the codec checks the frame's sections against it.
    BITMAPINFOHEADER in = input;
    in.biSizeImage = static_cast<DWORD>(size);
    BITMAPINFOHEADER out = output;
    ICDECOMPRESS record{};
    record.lpbiInput = &in;
    record.lpInput = const_cast<uint8_t*>(frame);
    record.lpbiOutput = &out;
    const bool padded = pitch != rowBytes;
    if (padded) scratch.resize(rowBytes * static_cast<size_t>(rows));
    record.lpOutput = padded ? scratch.data() : picture;
    if (size > UINT32_MAX || Send(ICM_DECOMPRESS, reinterpret_cast<LPARAM>(&record),
                                  static_cast<LPARAM>(sizeof record)) != ICERR_OK) {
        haveReference = false;
        return DecodeResult::Damaged;
    }
    haveReference = true;
    if (padded)
        for (size_t row = 0; row < static_cast<size_t>(rows); ++row)
            std::memcpy(picture + row * pitch, scratch.data() + row * rowBytes, rowBytes);
    return DecodeResult::Picture;
}

}  // namespace rq43::players
