#include "driver/format_negotiation.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "support/driver_host.h"

namespace rq43 {
namespace {

using testing::Header;

// The address of a temporary header, for one call.
const BITMAPINFOHEADER* ptr(const BITMAPINFOHEADER& header) {
    return &header;
}

const BITMAPINFOHEADER kRq43 = Header(320, 240, 24, FOURCC_RQ43);

TEST(FormatNegotiationTest, CompressQueryAcceptsTheFourInputFormats) {
    EXPECT_EQ(CompressQuery(ptr(Header(320, 240, 24, BI_RGB)), nullptr), ICERR_OK);
    EXPECT_EQ(CompressQuery(ptr(Header(320, 240, 32, BI_RGB)), nullptr), ICERR_OK);
    EXPECT_EQ(CompressQuery(ptr(Header(320, 240, 16, FOURCC_YUY2)), nullptr), ICERR_OK);
    EXPECT_EQ(CompressQuery(ptr(Header(320, 240, 16, FOURCC_UYVY)), nullptr), ICERR_OK);
    EXPECT_EQ(CompressQuery(ptr(Header(320, 240, 16, BI_RGB)), nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(CompressQuery(ptr(Header(320, 240, 24, FOURCC_YUY2)), nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(CompressQuery(ptr(Header(320, 240, 12, MakeFourCC('I', '4', '2', '0'))), nullptr),
              ICERR_BADFORMAT);
}

TEST(FormatNegotiationTest, DimensionsMustBeMultiplesOfSixteen) {
    EXPECT_EQ(CompressQuery(ptr(Header(320, 250, 24, BI_RGB)), nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(CompressQuery(ptr(Header(328, 240, 24, BI_RGB)), nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(CompressQuery(ptr(Header(320, -240, 32, BI_RGB)), nullptr), ICERR_OK);
    // Empty, negative-width and oversized pictures would break every buffer computation.
    EXPECT_EQ(CompressQuery(ptr(Header(0, 240, 24, BI_RGB)), nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(CompressQuery(ptr(Header(320, 0, 24, BI_RGB)), nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(CompressQuery(ptr(Header(-320, 240, 24, BI_RGB)), nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(CompressQuery(ptr(Header(32768, 32768, 24, BI_RGB)), nullptr), ICERR_BADFORMAT);
}

TEST(FormatNegotiationTest, CompressQueryWithOutputNeedsTheExactPicture) {
    BITMAPINFOHEADER in = Header(320, -240, 32, BI_RGB);
    EXPECT_EQ(CompressQuery(&in, ptr(Header(320, 240, 24, FOURCC_RQ43))), ICERR_BADFORMAT);
    EXPECT_EQ(CompressQuery(&in, ptr(Header(320, -240, 24, FOURCC_RQ43))), ICERR_OK);
    EXPECT_EQ(CompressQuery(&in, ptr(Header(320, -240, 16, FOURCC_RQ43))), ICERR_BADFORMAT);
    EXPECT_EQ(CompressQuery(&in, ptr(Header(336, -240, 24, FOURCC_RQ43))), ICERR_BADFORMAT);
}

TEST(FormatNegotiationTest, CompressGetFormatAndSize) {
    BITMAPINFOHEADER in = Header(320, 240, 24, BI_RGB);
    EXPECT_EQ(CompressGetFormat(&in, nullptr), 112);
    BITMAPINFOHEADER out{};
    EXPECT_EQ(CompressGetFormat(&in, &out), ICERR_OK);
    EXPECT_EQ(out.biWidth, 320);
    EXPECT_EQ(out.biHeight, 240);
    EXPECT_EQ(out.biBitCount, 24);
    EXPECT_EQ(out.biCompression, FOURCC_RQ43);
    EXPECT_EQ(out.biSizeImage, in.biSizeImage);
    EXPECT_EQ(CompressGetSize(&in, &out), 307208);
}

TEST(FormatNegotiationTest, GetFormatCopiesAtMostWhatTheSizeQueryPromised) {
    // A header claiming a huge biSize: copy no more than 112 bytes, read no more than the header has.
    unsigned char input[112];
    for (size_t i = 0; i < sizeof input; ++i) input[i] = static_cast<unsigned char>(i);
    BITMAPINFOHEADER base = Header(64, 64, 24, BI_RGB);
    base.biSize = 100000;
    std::memcpy(input, &base, sizeof base);
    unsigned char output[200];
    std::memset(output, 0xEE, sizeof output);
    EXPECT_EQ(CompressGetFormat(reinterpret_cast<BITMAPINFOHEADER*>(input),
                                reinterpret_cast<BITMAPINFOHEADER*>(output)),
              ICERR_OK);
    EXPECT_EQ(output[111], 111);
    for (size_t i = 112; i < sizeof output; ++i) ASSERT_EQ(output[i], 0xEE);

    BITMAPINFOHEADER tooShort = Header(64, 64, 24, BI_RGB);
    tooShort.biSize = 12;
    BITMAPINFOHEADER out{};
    EXPECT_EQ(DecompressGetFormat(&tooShort, &out), ICERR_BADFORMAT);
}

TEST(FormatNegotiationTest, DecompressQueryAcceptsFourOutputsEitherOrientation) {
    EXPECT_EQ(DecompressQuery(&kRq43, nullptr), ICERR_OK);
    EXPECT_EQ(DecompressQuery(&kRq43, ptr(Header(320, -240, 32, BI_RGB))), ICERR_OK);
    EXPECT_EQ(DecompressQuery(&kRq43, ptr(Header(320, 240, 24, BI_RGB))), ICERR_OK);
    EXPECT_EQ(DecompressQuery(&kRq43, ptr(Header(320, 240, 16, FOURCC_YUY2))), ICERR_OK);
    EXPECT_EQ(DecompressQuery(&kRq43, ptr(Header(320, -240, 16, FOURCC_UYVY))), ICERR_OK);
    EXPECT_EQ(DecompressQuery(&kRq43, ptr(Header(320, 240, 16, BI_RGB))), ICERR_BADFORMAT);
    EXPECT_EQ(DecompressQuery(&kRq43, ptr(Header(320, 256, 24, BI_RGB))), ICERR_BADFORMAT);
    EXPECT_EQ(DecompressQuery(ptr(Header(320, 240, 16, FOURCC_RQ43)), nullptr), ICERR_BADFORMAT);
}

TEST(FormatNegotiationTest, DecompressExQueryRefusesRgb32) {
    BITMAPINFOHEADER in = kRq43;
    BITMAPINFOHEADER out = Header(320, -240, 32, BI_RGB);
    ICDECOMPRESSEX record{};
    record.lpbiSrc = &in;
    record.lpbiDst = &out;
    EXPECT_EQ(DecompressExQuery(&record), ICERR_BADFORMAT);
    out = Header(320, -240, 24, BI_RGB);
    EXPECT_EQ(DecompressExQuery(&record), ICERR_OK);
    record.lpbiDst = nullptr;
    EXPECT_EQ(DecompressExQuery(&record), ICERR_OK);
}

TEST(FormatNegotiationTest, DecompressGetFormatDescribesRgb32) {
    BITMAPINFOHEADER in = Header(320, -240, 24, FOURCC_RQ43);
    EXPECT_EQ(DecompressGetFormat(&in, nullptr), 112);
    BITMAPINFOHEADER out{};
    EXPECT_EQ(DecompressGetFormat(&in, &out), ICERR_OK);
    EXPECT_EQ(out.biBitCount, 32);
    EXPECT_EQ(out.biCompression, BI_RGB);
    EXPECT_EQ(out.biHeight, -240);
    EXPECT_EQ(out.biSizeImage, 320u * 240u * 4u);
}

// Sizes near the 32-bit limits once overflowed the size arithmetic; a picture the codec cannot take
// has no size and no decoded format.
TEST(FormatNegotiationTest, SizeAnswersRefusePicturesTheCodecCannotTake) {
    const int32_t huge[][2] = {{INT32_MAX, INT32_MIN},
                               {INT32_MIN, INT32_MIN},
                               {INT32_MAX, INT32_MAX},
                               {-320, 240},
                               {0, 240},
                               {320, 0},
                               {32768, 32768},
                               {328, 240}};
    for (const auto& [width, height] : huge) {
        BITMAPINFOHEADER in = Header(320, 240, 24, BI_RGB);
        BITMAPINFOHEADER compressed = kRq43;
        compressed.biWidth = width;
        compressed.biHeight = height;
        EXPECT_EQ(CompressGetSize(&in, &compressed), ICERR_BADFORMAT) << width << "x" << height;
        BITMAPINFOHEADER out{};
        EXPECT_EQ(DecompressGetFormat(&compressed, &out), ICERR_BADFORMAT) << width << "x" << height;
    }
    // The largest picture taken still has an answer that fits.
    BITMAPINFOHEADER largest = Header(16, -((INT32_MAX - 8) / 4 / 16 / 16 * 16), 24, FOURCC_RQ43);
    EXPECT_GT(CompressGetSize(&largest, &largest), 0);
}

}  // namespace
}  // namespace rq43
