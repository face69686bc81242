// The format and information messages with hostile headers, records and buffer sizes. Each header
// lies in a buffer of its own biSize (at least the plain record), each answer buffer is exactly as
// large as the host says, so a read or write past either is caught.
//
// Layout: a sequence of messages, each an operation byte and the fields it takes: headers as 40 raw
// bytes (the rest of a longer biSize filled from the input), sizes and records as raw bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "support/driver_host.h"
#include "support/scratch_registry.h"

namespace {

using namespace rq43;
using rq43::fuzz::FuzzInput;
using rq43::testing::Param;

constexpr int kMaxMessages = 32;
// Begin allocates the picture stores: larger pictures only measure the machine's memory.
constexpr int64_t kMaxBegunPixels = 1 << 20;

// A header as a host hands it over: its own biSize bytes (up to 1 KiB), never fewer than the plain record.
std::vector<uint8_t> HeaderBytes(FuzzInput& input) {
    std::vector<uint8_t> bytes = input.Bytes(sizeof(BITMAPINFOHEADER));
    bytes.resize(sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    // The codec reads no more than 112 bytes of any header: a longer one needs no more buffer than that.
    const size_t length = std::min<size_t>(header.biSize, 1024);
    if (length > sizeof header) {
        std::vector<uint8_t> rest = input.Bytes(length - sizeof header);
        bytes.insert(bytes.end(), rest.begin(), rest.end());
        bytes.resize(length);
    }
    return bytes;
}

BITMAPINFOHEADER* AsHeader(std::vector<uint8_t>& bytes) {
    return reinterpret_cast<BITMAPINFOHEADER*>(bytes.data());
}

bool SmallEnough(const BITMAPINFOHEADER& header) {
    const int64_t rows = header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight;
    return int64_t{header.biWidth} * rows <= kMaxBegunPixels;
}

// Asks how large the answer is, then for the answer in a buffer of just that size.
void GetFormat(const testing::OpenInstance& host, UINT message, BITMAPINFOHEADER* in) {
    const LRESULT bytes = host.Message(message, Param(in));
    if (bytes <= 0 || bytes > 4096) std::abort();
    std::vector<uint8_t> answer(static_cast<size_t>(bytes));
    host.Message(message, Param(in), Param(answer.data()));
}

LONG RQ43_CALLBACK Status(LPARAM, UINT, LONG) {
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static testing::ScratchRegistry registry;
    FuzzInput input(data, size);
    testing::OpenInstance host(0xF001);
    for (int message = 0; message < kMaxMessages && !input.Empty(); ++message) {
        const uint8_t operation = input.Byte();
        const bool withOutput = (operation & 0x80) == 0;
        std::vector<uint8_t> in = HeaderBytes(input);
        std::vector<uint8_t> out = withOutput ? HeaderBytes(input) : std::vector<uint8_t>{};
        BITMAPINFOHEADER* outHeader = withOutput ? AsHeader(out) : nullptr;
        switch (operation & 0x0F) {
            case 0:
                host.Message(ICM_COMPRESS_QUERY, Param(AsHeader(in)), Param(outHeader));
                break;
            case 1:
                GetFormat(host, ICM_COMPRESS_GET_FORMAT, AsHeader(in));
                break;
            case 2:
                host.Message(ICM_COMPRESS_GET_SIZE, Param(AsHeader(in)), Param(outHeader));
                break;
            case 3:
                host.Message(ICM_DECOMPRESS_QUERY, Param(AsHeader(in)), Param(outHeader));
                break;
            case 4:
                GetFormat(host, ICM_DECOMPRESS_GET_FORMAT, AsHeader(in));
                break;
            case 5: {
                ICDECOMPRESSEX record{};
                record.lpbiSrc = AsHeader(in);
                record.lpbiDst = outHeader;
                host.Message(ICM_DECOMPRESSEX_QUERY, Param(&record), sizeof record);
                break;
            }
            case 6: {
                std::vector<uint8_t> info(input.U16() % (sizeof(ICINFO) + 64));
                host.Message(ICM_GETINFO, Param(info.empty() ? nullptr : info.data()),
                             static_cast<LPARAM>(info.size()));
                break;
            }
            case 7: {
                ICCOMPRESSFRAMES frames{};
                frames.lQuality = static_cast<LONG>(input.U32());
                frames.lDataRate = static_cast<LONG>(input.U32());
                frames.dwRate = input.U32();
                frames.dwScale = input.U32();
                host.Message(ICM_COMPRESS_FRAMES_INFO, Param(&frames), sizeof frames);
                break;
            }
            case 8: {
                DWORD quality = input.U32();
                host.Message(ICM_SETQUALITY, Param(&quality));
                host.Message(ICM_GETQUALITY, Param(&quality));
                break;
            }
            case 9:
                if (!SmallEnough(*AsHeader(in))) break;
                host.Message(ICM_COMPRESS_BEGIN, Param(AsHeader(in)), Param(outHeader));
                host.Message(ICM_COMPRESS_END);
                break;
            case 10:
                if (withOutput && !SmallEnough(*outHeader)) break;
                host.Message(ICM_DECOMPRESS_BEGIN, Param(AsHeader(in)), Param(outHeader));
                host.Message(ICM_DECOMPRESS_END);
                break;
            case 11: {
                if (withOutput && !SmallEnough(*outHeader)) break;
                ICDECOMPRESSEX record{};
                record.lpbiSrc = AsHeader(in);
                record.lpbiDst = outHeader;
                host.Message(ICM_DECOMPRESSEX_BEGIN, Param(&record), sizeof record);
                host.Message(ICM_DECOMPRESSEX_END);
                break;
            }
            case 12: {
                ICSETSTATUSPROC status{0, 0, (operation & 0x40) ? nullptr : Status};
                host.Message(ICM_SET_STATUS_PROC, Param(&status), sizeof status);
                break;
            }
            default: {
                // Any message with no records, but opening and closing: they change the table, not this
                // instance.
                const UINT any = input.U16();
                host.Message(DRV_USER + any, 0, 0);
                if (any != DRV_OPEN && any != DRV_CLOSE) host.Message(any, 0, 0);
                break;
            }
        }
    }
    return 0;
}
