// A host program for the platform's video compression manager, built against the platform's own
// headers only. It drives the registered RQ43 driver as an application would and reports one line per
// check ("PASS ...", "FAIL ...", "SKIP ...") on stdout and in OUTDIR/<command>.log.
//
//   vcm_host codec OUTDIR      information, compression, decompression, AVI files, checksums
//   vcm_host configure OUTDIR  the Configure dialog: initial state, OK, Cancel, stored values, and OK
//                              for a user who may not write the machine's settings
//   vcm_host about OUTDIR      the About dialog
//
// Dialog checks hand over to the test script for a screenshot: the host writes OUTDIR/<name>.ready
// (the dialog's place on the screen) once the dialog is up and waits (at most 30 s) for OUTDIR/<name>.shot.
// The system headers need windows.h first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <sddl.h>
#include <vfw.h>
// clang-format on

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "synthetic_sequence.h"

namespace {

using namespace rq43::crosscheck;

const DWORD kRq43 = mmioFOURCC('R', 'Q', '4', '3');
const int kBits = static_cast<int>(sizeof(void*) * 8);

class Report {
  public:
    void Open(const std::string& path) { log = std::fopen(path.c_str(), "w"); }
    ~Report() {
        if (log) std::fclose(log);
    }
    void Line(const char* verdict, const char* name, const char* format, va_list args) {
        char detail[512] = "";
        if (format) std::vsnprintf(detail, sizeof detail, format, args);
        char line[640];
        std::snprintf(line, sizeof line, "%s %d-bit %s%s%s\n", verdict, kBits, name, *detail ? ": " : "",
                      detail);
        std::fputs(line, stdout);
        std::fflush(stdout);
        if (log) {
            std::fputs(line, log);
            std::fflush(log);
        }
    }
    bool Check(bool ok, const char* name, const char* format = nullptr, ...) {
        va_list args;
        va_start(args, format);
        Line(ok ? "PASS" : "FAIL", name, ok ? nullptr : format, args);
        va_end(args);
        ok ? ++passed : ++failed;
        return ok;
    }
    // An observation that is neither a pass nor a failure.
    void Note(const char* name, const char* format, ...) {
        va_list args;
        va_start(args, format);
        Line("NOTE", name, format, args);
        va_end(args);
    }
    void Skip(const char* name, const char* format, ...) {
        va_list args;
        va_start(args, format);
        Line("SKIP", name, format, args);
        va_end(args);
    }
    int failed = 0, passed = 0;

  private:
    FILE* log = nullptr;
};

Report report;

bool WriteText(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

BITMAPINFOHEADER RgbHeader(int bits) {
    return rq43::crosscheck::RgbHeader<BITMAPINFOHEADER>(bits);
}

// ---------------------------------------------------------------------------------------------- codec

struct CompressedSequence {
    std::vector<uint8_t> format;  // the compressed BITMAPINFOHEADER as the codec wrote it
    std::vector<std::vector<uint8_t>> frames;
    std::vector<bool> keys;
    BITMAPINFOHEADER* Format() { return reinterpret_cast<BITMAPINFOHEADER*>(format.data()); }
};

void CheckInformation(HIC hic) {
    ICINFO info{};
    info.dwSize = sizeof info;
    LRESULT size = ICGetInfo(hic, &info, sizeof info);
    report.Check(size == sizeof info, "ICGetInfo size", "%ld", static_cast<long>(size));
    report.Check(info.fccType == ICTYPE_VIDEO, "ICGetInfo fccType", "%08lx", info.fccType);
    report.Check(info.fccHandler == kRq43, "ICGetInfo fccHandler", "%08lx", info.fccHandler);
    report.Check(info.dwFlags == 0xAF, "ICGetInfo dwFlags", "%#lx", info.dwFlags);
    report.Check(info.dwVersion == 0x00010000 && info.dwVersionICM == ICVERSION, "ICGetInfo versions",
                 "%#lx %#lx", info.dwVersion, info.dwVersionICM);
    report.Check(std::wcscmp(info.szName, L"RQ43 Codec") == 0, "ICGetInfo szName", "%ls", info.szName);
    report.Check(std::wcscmp(info.szDescription, L"Parlux Tevra43 Codec") == 0, "ICGetInfo szDescription",
                 "%ls", info.szDescription);

    // The manager lists the driver among the installed video compressors.
    bool listed = false;
    for (DWORD i = 0; !listed; ++i) {
        ICINFO entry{};
        entry.dwSize = sizeof entry;
        if (!ICInfo(ICTYPE_VIDEO, i, &entry)) break;
        listed = entry.fccHandler == kRq43 || entry.fccHandler == mmioFOURCC('r', 'q', '4', '3');
    }
    report.Check(listed, "ICInfo lists vidc.RQ43", "not found among the installed compressors");
    report.Check(ICQueryConfigure(hic) == TRUE, "ICQueryConfigure",
                 "the driver says it has no Configure dialog");
    report.Check(ICQueryAbout(hic) == TRUE, "ICQueryAbout", "the driver says it has no About dialog");
}

// Returns false when the build has no compression sequence (the caller reports the skip).
bool CompressSequence(HIC hic, CompressedSequence& sequence, std::string& checksums, bool& unsupported) {
    BITMAPINFOHEADER in = RgbHeader(24);
    report.Check(ICCompressQuery(hic, &in, nullptr) == ICERR_OK, "ICCompressQuery RGB24");
    LRESULT formatSize = ICCompressGetFormatSize(hic, &in);
    if (!report.Check(formatSize >= static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)), "ICCompressGetFormatSize",
                      "%ld", static_cast<long>(formatSize)))
        return false;
    sequence.format.assign(static_cast<size_t>(formatSize), 0);
    BITMAPINFOHEADER* out = sequence.Format();
    report.Check(ICCompressGetFormat(hic, &in, out) == ICERR_OK && out->biCompression == kRq43,
                 "ICCompressGetFormat");
    DWORD bound = ICCompressGetSize(hic, &in, out);
    report.Check(bound >= in.biSizeImage, "ICCompressGetSize", "%lu", bound);
    LRESULT begun = ICCompressBegin(hic, &in, out);
    if (begun == ICERR_UNSUPPORTED) {
        unsupported = true;
        return false;
    }
    if (!report.Check(begun == ICERR_OK, "ICCompressBegin", "%ld", static_cast<long>(begun))) return false;
    bool allOk = true;
    for (int k = 0; k < kFrames; ++k) {
        std::vector<uint8_t> picture = SyntheticFrame(k);
        std::vector<uint8_t> buffer(bound);
        out->biSizeImage = bound;
        DWORD ckid = 0, flags = 0;
        DWORD result = ICCompress(hic, k == 0 ? ICCOMPRESS_KEYFRAME : 0, out, buffer.data(), &in,
                                  picture.data(), &ckid, &flags, k, 0, kQuality, nullptr, nullptr);
        bool ok = result == ICERR_OK && out->biSizeImage > 0 && out->biSizeImage <= bound;
        allOk &= report.Check(ok, "ICCompress frame", "frame %d: result %ld, size %lu", k,
                              static_cast<long>(result), out->biSizeImage);
        if (!ok) break;
        buffer.resize(out->biSizeImage);
        bool key = (flags & AVIIF_KEYFRAME) != 0;
        checksums += ChecksumLine(key ? "key" : "delta", k, buffer.data(), buffer.size());
        sequence.frames.push_back(std::move(buffer));
        sequence.keys.push_back(key);
    }
    report.Check(ICCompressEnd(hic) == ICERR_OK, "ICCompressEnd");
    if (!sequence.keys.empty()) report.Check(sequence.keys[0], "first frame is a key frame");
    return allOk;
}

void DecompressSequence(CompressedSequence& sequence, int bits, const char* tag, std::string& checksums) {
    HIC hic = ICOpen(ICTYPE_VIDEO, kRq43, ICMODE_DECOMPRESS);
    if (!report.Check(hic != nullptr, "ICOpen for decompression")) return;
    BITMAPINFOHEADER* in = sequence.Format();
    BITMAPINFOHEADER out = RgbHeader(bits);
    char name[64];
    std::snprintf(name, sizeof name, "ICDecompress to RGB%d", bits);
    if (report.Check(
            ICDecompressQuery(hic, in, &out) == ICERR_OK && ICDecompressBegin(hic, in, &out) == ICERR_OK,
            "ICDecompressQuery/Begin", "RGB%d", bits)) {
        std::vector<uint8_t> picture(out.biSizeImage);
        bool ok = true;
        for (size_t k = 0; k < sequence.frames.size() && ok; ++k) {
            in->biSizeImage = static_cast<DWORD>(sequence.frames[k].size());
            DWORD flags = sequence.keys[k] ? 0 : ICDECOMPRESS_NOTKEYFRAME;
            DWORD result = ICDecompress(hic, flags, in, sequence.frames[k].data(), &out, picture.data());
            ok = report.Check(result == ICERR_OK, name, "frame %d: result %ld", static_cast<int>(k),
                              static_cast<long>(result));
            if (ok) checksums += ChecksumLine(tag, static_cast<int>(k), picture.data(), picture.size());
        }
        report.Check(ICDecompressEnd(hic) == ICERR_OK, "ICDecompressEnd");
    }
    ICClose(hic);
}

void SequenceCompress(std::string& checksums) {
    HIC hic = ICOpen(ICTYPE_VIDEO, kRq43, ICMODE_COMPRESS);
    if (!report.Check(hic != nullptr, "ICOpen for ICSeqCompressFrame")) return;
    COMPVARS vars{};
    vars.cbSize = sizeof vars;
    vars.dwFlags = ICMF_COMPVARS_VALID;
    vars.hic = hic;
    vars.fccType = ICTYPE_VIDEO;
    vars.fccHandler = kRq43;
    vars.lKey = 5;
    vars.lQ = kQuality;
    BITMAPINFO in{};
    in.bmiHeader = RgbHeader(24);
    if (report.Check(ICSeqCompressFrameStart(&vars, &in) == TRUE, "ICSeqCompressFrameStart")) {
        bool ok = true;
        int keyFrames = 0;
        for (int k = 0; k < kFrames && ok; ++k) {
            std::vector<uint8_t> picture = SyntheticFrame(k);
            BOOL key = FALSE;  // the manager's idea, which need not be the frame's
            LONG size = 0;
            void* data = ICSeqCompressFrame(&vars, 0, picture.data(), &key, &size);
            ok = report.Check(data != nullptr && size > 0, "ICSeqCompressFrame", "frame %d: %p, %ld bytes", k,
                              data, static_cast<long>(size));
            if (!ok) break;
            // The frame's own header says what it is (byte 1: 1 = key frame).
            bool keyFrame = static_cast<const uint8_t*>(data)[1] == 1;
            keyFrames += keyFrame ? 1 : 0;
            checksums += ChecksumLine(keyFrame ? "seqkey" : "seqdelta", k, data, static_cast<size_t>(size));
        }
        if (ok)
            report.Note("ICSeqCompressFrame", "%d of %d frames are key frames (one in 5 asked for)",
                        keyFrames, kFrames);
        ICSeqCompressFrameEnd(&vars);
    }
    ICCompressorFree(&vars);  // closes the compressor
}

// Writes the picture through the AVIFile compressed-stream path: the manager's own use of the codec.
void WriteAvi(const std::string& path) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    DeleteFileA(path.c_str());
    if (report.Check(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr) == 0, "AVIFileOpen")) {
        BITMAPINFOHEADER in = RgbHeader(24);
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.fccHandler = kRq43;  // the compressed stream leaves it unset otherwise
        info.dwScale = 1;
        info.dwRate = 25;
        info.dwSuggestedBufferSize = in.biSizeImage;
        SetRect(&info.rcFrame, 0, 0, kWidth, kHeight);
        PAVISTREAM stream = nullptr, compressed = nullptr;
        AVICOMPRESSOPTIONS options{};
        options.fccType = streamtypeVIDEO;
        options.fccHandler = kRq43;
        options.dwKeyFrameEvery = 5;
        options.dwQuality = kQuality;
        options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
        bool ok = report.Check(AVIFileCreateStreamA(file, &stream, &info) == 0, "AVIFileCreateStream") &&
                  report.Check(AVIMakeCompressedStream(&compressed, stream, &options, nullptr) == AVIERR_OK,
                               "AVIMakeCompressedStream") &&
                  report.Check(AVIStreamSetFormat(compressed, 0, &in, sizeof in) == 0, "AVIStreamSetFormat");
        for (int k = 0; ok && k < kFrames; ++k) {
            std::vector<uint8_t> picture = SyntheticFrame(k);
            ok = report.Check(
                AVIStreamWrite(compressed, k, 1, picture.data(), static_cast<LONG>(picture.size()),
                               AVIIF_KEYFRAME, nullptr, nullptr) == 0,
                "AVIStreamWrite", "frame %d", k);
        }
        if (compressed) AVIStreamRelease(compressed);
        if (stream) AVIStreamRelease(stream);
        AVIFileRelease(file);
    }
    AVIFileExit();
}

// Reads the file back through the same API: every frame is there, the first one a key frame.
void ReadAvi(const std::string& path, std::string& checksums) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    if (report.Check(AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr) == 0, "AVIFileOpen for reading")) {
        PAVISTREAM stream = nullptr;
        if (report.Check(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == 0, "AVIFileGetStream")) {
            LONG length = AVIStreamLength(stream);
            report.Check(length == kFrames, "AVI stream length", "%ld", static_cast<long>(length));
            report.Check(AVIStreamIsKeyFrame(stream, 0) != FALSE, "AVI frame 0 is a key frame");
            std::vector<uint8_t> sample(RgbHeader(32).biSizeImage);
            for (LONG k = 0; k < length; ++k) {
                LONG bytes = 0;
                if (AVIStreamRead(stream, k, 1, sample.data(), static_cast<LONG>(sample.size()), &bytes,
                                  nullptr) != 0)
                    break;
                checksums += ChecksumLine(AVIStreamIsKeyFrame(stream, k) ? "avikey" : "avidelta",
                                          static_cast<int>(k), sample.data(), static_cast<size_t>(bytes));
            }
            AVIStreamRelease(stream);
        }
        AVIFileRelease(file);
    }
    AVIFileExit();
}

// The manager loads and frees the module around opens; its process-wide state must survive that.
void CheckReopening() {
    bool ok = true;
    for (int i = 0; i < 25 && ok; ++i) {
        HIC hic = ICOpen(ICTYPE_VIDEO, kRq43, ICMODE_QUERY);
        ICINFO info{};
        info.dwSize = sizeof info;
        ok = hic != nullptr && ICGetInfo(hic, &info, sizeof info) == sizeof info && info.fccHandler == kRq43;
        if (hic) ICClose(hic);
    }
    report.Check(ok, "25 opens and closes in a row");
}

int RunCodec(const std::string& outdir) {
    CheckReopening();
    HIC hic = ICOpen(ICTYPE_VIDEO, kRq43, ICMODE_COMPRESS);
    if (!report.Check(hic != nullptr, "ICOpen vidc.RQ43", "the manager found no usable driver")) return 1;
    CheckInformation(hic);
    CompressedSequence sequence;
    std::string checksums;
    bool unsupported = false;
    bool compressed = CompressSequence(hic, sequence, checksums, unsupported);
    ICClose(hic);
    if (unsupported) {
        report.Skip("compression and decompression",
                    "ICCompressBegin answers ICERR_UNSUPPORTED: this build has no "
                    "compression sequence");
        return report.failed;
    }
    if (compressed) {
        DecompressSequence(sequence, 24, "rgb24", checksums);
        DecompressSequence(sequence, 32, "rgb32", checksums);
    }
    report.Check(WriteText(outdir + "/frames.txt", checksums), "write frames.txt");
    std::string seqChecksums;
    SequenceCompress(seqChecksums);
    report.Check(WriteText(outdir + "/sequence.txt", seqChecksums), "write sequence.txt");
    WriteAvi(outdir + "/rq43.avi");
    std::string aviChecksums;
    ReadAvi(outdir + "/rq43.avi", aviChecksums);
    report.Check(WriteText(outdir + "/avi.txt", aviChecksums), "write avi.txt");
    return report.failed;
}

// -------------------------------------------------------------------------------------------- dialogs

struct DialogRun {
    const char* caption;
    std::string outdir;
    std::string shotName;
    void (*inspect)(HWND dialog, DialogRun& run);
    int closeButton;  // the button the script "presses" once the checks are done
};

HWND WaitForWindow(const char* caption) {
    for (int i = 0; i < 200; ++i) {
        if (HWND window = FindWindowA(nullptr, caption)) {
            if (IsWindowVisible(window)) return window;
        }
        Sleep(100);
    }
    return nullptr;
}

// Hands the visible dialog to the script for a screenshot and waits until it is taken.
void Photograph(HWND dialog, const DialogRun& run) {
    UpdateWindow(dialog);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    std::string ready = run.outdir + "/" + run.shotName + ".ready";
    std::string shot = run.outdir + "/" + run.shotName + ".shot";
    DeleteFileA(shot.c_str());
    // The script crops its screenshot to the dialog: "x y width height" on the screen.
    RECT frame{};
    GetWindowRect(dialog, &frame);
    char place[64];
    std::snprintf(place, sizeof place, "%ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left,
                  frame.bottom - frame.top);
    WriteText(ready, place);
    for (int i = 0; i < 300 && !FileExists(shot); ++i) Sleep(100);
    report.Check(FileExists(shot), "dialog screenshot taken", "%s: no answer from the script",
                 run.shotName.c_str());
}

DWORD WINAPI DriveDialog(LPVOID argument) {
    auto* run = static_cast<DialogRun*>(argument);
    HWND dialog = WaitForWindow(run->caption);
    if (!report.Check(dialog != nullptr, "dialog appears", "no window \"%s\" within 20 s", run->caption))
        return 0;
    run->inspect(dialog, *run);
    // A real click, as a user's: the button notifies the dialog procedure.
    SendMessageA(GetDlgItem(dialog, run->closeButton), BM_CLICK, 0, 0);
    for (int i = 0; i < 50 && IsWindow(dialog); ++i) Sleep(100);
    report.Check(!IsWindow(dialog), "dialog closes", "still open after pressing button %d", run->closeButton);
    return 0;
}

// Runs `open` (ICConfigure or ICAbout) on this thread while a second thread works the dialog.
void WithDialog(DialogRun& run, LRESULT (*open)(HIC), HIC hic, const char* name) {
    HANDLE driver = CreateThread(nullptr, 0, DriveDialog, &run, 0, nullptr);
    LRESULT result = open(hic);
    report.Check(result == ICERR_OK, name, "answered %ld", static_cast<long>(result));
    // If the dialog never came up the helper stops on its own after its wait.
    WaitForSingleObject(driver, 40000);
    CloseHandle(driver);
}

std::string ItemText(HWND dialog, int id) {
    char text[128] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

LRESULT TrackbarPosition(HWND dialog, int id) {
    return SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0);
}

bool Checked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}
bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// Every control with an id sits where the template puts it, in dialog units, with its class.
void CheckLayout(HWND dialog) {
    struct Expected {
        int id;
        const char* className;
        RECT units;  // x, y, width, height
    };
    const Expected controls[] = {
        {1009, "Button", {11, 13, 136, 10}},
        {1010, "Button", {11, 37, 123, 10}},
        {1011, "Button", {12, 61, 123, 10}},
        {1012, "Button", {12, 84, 126, 10}},
        {1014, "msctls_trackbar32", {175, 18, 112, 21}},
        {1015, "Static", {175, 39, 112, 8}},
        {1016, "msctls_trackbar32", {175, 49, 112, 21}},
        {1017, "Static", {175, 71, 112, 8}},
        {1, "Button", {223, 92, 33, 14}},
        {2, "Button", {260, 92, 33, 14}},
    };
    for (const Expected& c : controls) {
        HWND item = GetDlgItem(dialog, c.id);
        char className[64] = "";
        if (item) GetClassNameA(item, className, sizeof className);
        // Place and size convert from dialog units separately, as the dialog manager converts them.
        RECT place = {c.units.left, c.units.top, c.units.left, c.units.top};
        RECT size = {0, 0, c.units.right, c.units.bottom};
        MapDialogRect(dialog, &place);
        MapDialogRect(dialog, &size);
        RECT want = {place.left, place.top, place.left + size.right, place.top + size.bottom};
        RECT have{};
        if (item) {
            GetWindowRect(item, &have);
            MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&have), 2);
        }
        char name[64];
        std::snprintf(name, sizeof name, "control %d class and place", c.id);
        report.Check(item && lstrcmpiA(className, c.className) == 0 && EqualRect(&want, &have), name,
                     "class \"%s\", at %ld,%ld-%ld,%ld, want %ld,%ld-%ld,%ld", className, have.left, have.top,
                     have.right, have.bottom, want.left, want.top, want.right, want.bottom);
    }
    RECT client{}, want = {0, 0, 300, 113};
    GetClientRect(dialog, &client);
    MapDialogRect(dialog, &want);
    report.Check(EqualRect(&client, &want), "Configure dialog size", "%ldx%ld, want %ldx%ld", client.right,
                 client.bottom, want.right, want.bottom);
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    report.Check((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU) == 0, "Configure dialog frame",
                 "style %#lx", style);
}

// Moves a trackbar the way a drag ends: the control moves, then the dialog is told the position.
void Drag(HWND dialog, int id, int position) {
    HWND trackbar = GetDlgItem(dialog, id);
    SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
                 reinterpret_cast<LPARAM>(trackbar));
}

void InspectFreshConfigure(HWND dialog, DialogRun& run) {
    CheckLayout(dialog);
    report.Check(
        !Checked(dialog, 1009) && !Checked(dialog, 1010) && Checked(dialog, 1011) && Checked(dialog, 1012),
        "Configure check boxes start at the defaults", "%d %d %d %d", Checked(dialog, 1009),
        Checked(dialog, 1010), Checked(dialog, 1011), Checked(dialog, 1012));
    report.Check(!Enabled(dialog, 1010), "sub-block box is disabled");
    LRESULT low = SendDlgItemMessageA(dialog, 1014, TBM_GETRANGEMIN, 0, 0);
    LRESULT high = SendDlgItemMessageA(dialog, 1014, TBM_GETRANGEMAX, 0, 0);
    report.Check(low == 0 && high == 20 && TrackbarPosition(dialog, 1014) == 0,
                 "strength trackbar 0..20 at 0", "%ld..%ld at %ld", static_cast<long>(low),
                 static_cast<long>(high), static_cast<long>(TrackbarPosition(dialog, 1014)));
    report.Check(ItemText(dialog, 1015) == "Off", "strength label", "\"%s\"", ItemText(dialog, 1015).c_str());
    low = SendDlgItemMessageA(dialog, 1016, TBM_GETRANGEMIN, 0, 0);
    high = SendDlgItemMessageA(dialog, 1016, TBM_GETRANGEMAX, 0, 0);
    report.Check(low == 1 && high == 4 && TrackbarPosition(dialog, 1016) == 1,
                 "iterations trackbar 1..4 at 1", "%ld..%ld at %ld", static_cast<long>(low),
                 static_cast<long>(high), static_cast<long>(TrackbarPosition(dialog, 1016)));
    report.Check(ItemText(dialog, 1017) == "Tight (Radius = 1)", "radius label", "\"%s\"",
                 ItemText(dialog, 1017).c_str());
    report.Check(!Enabled(dialog, 1016) && !Enabled(dialog, 1017),
                 "iterations disabled while the filter is off");
    Photograph(dialog, run);

    // The user's changes: fast search on, strong compression off, strength 7, three iterations.
    SendMessageA(GetDlgItem(dialog, 1009), BM_CLICK, 0, 0);
    SendMessageA(GetDlgItem(dialog, 1012), BM_CLICK, 0, 0);
    Drag(dialog, 1014, 7);
    report.Check(ItemText(dialog, 1015) == "7 - Medium", "strength 7 label", "\"%s\"",
                 ItemText(dialog, 1015).c_str());
    report.Check(Enabled(dialog, 1016) && Enabled(dialog, 1017), "iterations enabled with the filter on");
    Drag(dialog, 1014, 14);
    report.Check(ItemText(dialog, 1015) == "14 - Heavy", "strength 14 label", "\"%s\"",
                 ItemText(dialog, 1015).c_str());
    Drag(dialog, 1014, 0);
    report.Check(ItemText(dialog, 1015) == "Off" && !Enabled(dialog, 1016), "strength back to off");
    Drag(dialog, 1014, 6);
    report.Check(ItemText(dialog, 1015) == "6 - Light", "strength 6 label", "\"%s\"",
                 ItemText(dialog, 1015).c_str());
    Drag(dialog, 1014, 7);
    // A keyboard step: the dialog reads the position back from the control.
    SendDlgItemMessageA(dialog, 1016, TBM_SETPOS, TRUE, 3);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_LINEDOWN, 0),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, 1016)));
    report.Check(ItemText(dialog, 1017) == "Medium (Radius = 3)", "radius 3 label", "\"%s\"",
                 ItemText(dialog, 1017).c_str());
}

// Second opening: shows what the first one stored, then is cancelled after changes.
void InspectStoredConfigure(HWND dialog, DialogRun& run) {
    report.Check(
        Checked(dialog, 1009) && !Checked(dialog, 1010) && Checked(dialog, 1011) && !Checked(dialog, 1012),
        "Configure reopens with the stored boxes");
    report.Check(TrackbarPosition(dialog, 1014) == 7 && ItemText(dialog, 1015) == "7 - Medium" &&
                     TrackbarPosition(dialog, 1016) == 3 && ItemText(dialog, 1017) == "Medium (Radius = 3)" &&
                     Enabled(dialog, 1016),
                 "Configure reopens with the stored filter");
    Photograph(dialog, run);
    SendMessageA(GetDlgItem(dialog, 1011), BM_CLICK, 0, 0);
    Drag(dialog, 1014, 20);
}

const char* const kSettingNames[6] = {"Fast Search",        "SubBlock Motion",    "Auto Key Insert",
                                      "Strong Compression", "Prefilter Strength", "Prefilter Iterations"};

const char* const kSettingsKey = "Software\\Obrant\\RQ43Video Codec";

void CheckStored(HKEY root, const DWORD (&expected)[6], const char* name) {
    HKEY key = nullptr;
    bool ok = RegOpenKeyA(root, kSettingsKey, &key) == ERROR_SUCCESS;
    std::string found;
    for (int i = 0; ok && i < 6; ++i) {
        DWORD type = 0, value = 0, size = sizeof value;
        ok = RegQueryValueExA(key, kSettingNames[i], nullptr, &type, reinterpret_cast<BYTE*>(&value),
                              &size) == ERROR_SUCCESS &&
             type == REG_DWORD && size == 4 && value == expected[i];
        found += std::string(kSettingNames[i]) + "=" + std::to_string(value) + " ";
    }
    if (key) RegCloseKey(key);
    report.Check(ok, name, "%s", found.c_str());
}

// Gives the machine's settings key an access list, as an administrator's installation leaves it for
// everyone else: "D:P(A;;KRWD;;;WD)" reads, and may change the list itself so the test can undo it.
bool ProtectSettingsKey(const char* sddl) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool ok =
        ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    RegCloseKey(key);
    return ok;
}

bool MachineKeyWritable() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The first frame of a fresh compression start: what the stored settings make of it.
std::vector<uint8_t> CompressFirstFrame() {
    HIC hic = ICOpen(ICTYPE_VIDEO, kRq43, ICMODE_COMPRESS);
    if (!hic) return {};
    BITMAPINFOHEADER in = RgbHeader(24);
    std::vector<uint8_t> format(static_cast<size_t>(ICCompressGetFormatSize(hic, &in)));
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    std::vector<uint8_t> frame;
    if (format.size() >= sizeof(BITMAPINFOHEADER) && ICCompressGetFormat(hic, &in, out) == ICERR_OK &&
        ICCompressBegin(hic, &in, out) == ICERR_OK) {
        frame.resize(ICCompressGetSize(hic, &in, out));
        std::vector<uint8_t> picture = SyntheticFrame(0);
        DWORD ckid = 0, flags = 0;
        out->biSizeImage = static_cast<DWORD>(frame.size());
        if (ICCompress(hic, ICCOMPRESS_KEYFRAME, out, frame.data(), &in, picture.data(), &ckid, &flags, 0, 0,
                       kQuality, nullptr, nullptr) == ICERR_OK)
            frame.resize(out->biSizeImage);
        else
            frame.clear();
        ICCompressEnd(hic);
    }
    ICClose(hic);
    return frame;
}

LRESULT OpenConfigure(HIC hic) {
    return ICConfigure(hic, nullptr);
}

// Third opening, by a user who may read the machine's settings but not write them: strong compression
// back on and the filter off.
void ChangeAsUser(HWND dialog, DialogRun&) {
    report.Check(Checked(dialog, 1009) && !Checked(dialog, 1012) && TrackbarPosition(dialog, 1014) == 7,
                 "Configure opens with the machine's settings for a user");
    SendMessageA(GetDlgItem(dialog, 1012), BM_CLICK, 0, 0);
    Drag(dialog, 1014, 0);
}

void CheckUserKeepsChoice(HIC hic, const std::string& outdir) {
    std::vector<uint8_t> machines = CompressFirstFrame();
    if (!ProtectSettingsKey("D:P(A;;KRWD;;;WD)") || MachineKeyWritable()) {
        report.Skip("settings of a user who may not write HKEY_LOCAL_MACHINE",
                    "this registry does not enforce the key's access list");
        ProtectSettingsKey("D:P(A;;KA;;;WD)");
        return;
    }
    DialogRun third{"Configuration", outdir, "configure-user", ChangeAsUser, IDOK};
    WithDialog(third, OpenConfigure, hic, "ICConfigure (OK, machine key read-only)");
    CheckStored(HKEY_LOCAL_MACHINE, {1, 0, 1, 0, 7, 3}, "a read-only machine key keeps its settings");
    CheckStored(HKEY_CURRENT_USER, {1, 0, 1, 1, 0, 3}, "OK keeps the user's choice under HKEY_CURRENT_USER");
    std::vector<uint8_t> users = CompressFirstFrame();
    report.Check(ProtectSettingsKey("D:P(A;;KA;;;WD)"), "the machine key's access list is undone");

    // The same choice stored for the whole machine: the frame the user's compression start must give.
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSettingsKey, &key) == ERROR_SUCCESS) {
        const DWORD chosen[6] = {1, 0, 1, 1, 0, 3};
        for (int i = 0; i < 6; ++i)
            RegSetValueExA(key, kSettingNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&chosen[i]), 4);
        RegCloseKey(key);
    }
    std::vector<uint8_t> reference = CompressFirstFrame();
    report.Check(!users.empty() && users == reference && users != machines,
                 "the next compression start uses the user's choice",
                 "%zu bytes; as chosen: %d; as the machine's: %d", users.size(), users == reference,
                 users == machines);
}

LRESULT OpenAbout(HIC hic) {
    return ICAbout(hic, nullptr);
}

int RunConfigure(const std::string& outdir) {
    HIC hic = ICOpen(ICTYPE_VIDEO, kRq43, ICMODE_COMPRESS);
    if (!report.Check(hic != nullptr, "ICOpen vidc.RQ43")) return 1;
    DialogRun first{"Configuration", outdir, "configure", InspectFreshConfigure, IDOK};
    WithDialog(first, OpenConfigure, hic, "ICConfigure (OK)");
    CheckStored(HKEY_LOCAL_MACHINE, {1, 0, 1, 0, 7, 3}, "OK stored all six settings");
    DialogRun second{"Configuration", outdir, "configure-stored", InspectStoredConfigure, IDCANCEL};
    WithDialog(second, OpenConfigure, hic, "ICConfigure (Cancel)");
    CheckStored(HKEY_LOCAL_MACHINE, {1, 0, 1, 0, 7, 3}, "Cancel stored nothing");
    CheckUserKeepsChoice(hic, outdir);
    ICClose(hic);
    return report.failed;
}

void InspectAbout(HWND dialog, DialogRun& run) {
    bool titled = false;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char text[64] = "";
        GetWindowTextA(child, text, sizeof text);
        titled |= std::strcmp(text, "Parlux Codec V4.2") == 0;
    }
    report.Check(titled, "About shows the product line");
    RECT client{}, want = {0, 0, 186, 73};
    GetClientRect(dialog, &client);
    MapDialogRect(dialog, &want);
    report.Check(EqualRect(&client, &want), "About dialog size");
    report.Check((GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU) != 0, "About has a system menu");
    Photograph(dialog, run);
}

int RunAbout(const std::string& outdir) {
    HIC hic = ICOpen(ICTYPE_VIDEO, kRq43, ICMODE_COMPRESS);
    if (!report.Check(hic != nullptr, "ICOpen vidc.RQ43")) return 1;
    DialogRun run{"About", outdir, "about", InspectAbout, IDOK};
    WithDialog(run, OpenAbout, hic, "ICAbout");
    ICClose(hic);
    return report.failed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vcm_host codec|configure|about OUTDIR\n");
        return 2;
    }
    std::string command = argv[1], outdir = argv[2];
    CreateDirectoryA(outdir.c_str(), nullptr);
    report.Open(outdir + "/" + command + ".log");
    if (command == "codec") return RunCodec(outdir) ? 1 : 0;
    if (command == "configure") return RunConfigure(outdir) ? 1 : 0;
    if (command == "about") return RunAbout(outdir) ? 1 : 0;
    std::fprintf(stderr, "vcm_host: unknown command %s\n", command.c_str());
    return 2;
}
