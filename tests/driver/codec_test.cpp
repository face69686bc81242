#include "driver/codec.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/driver_host.h"

namespace rq43 {
namespace {

using testing::OpenInstance;
using testing::Param;

TEST(CodecTest, QualityRoundTripsThroughHundredths) {
    OpenInstance host(0x6001);
    DWORD quality = 0;
    host.Message(ICM_GETQUALITY, Param(&quality));
    EXPECT_EQ(quality, 9000u);

    DWORD set = 7550;
    host.Message(ICM_SETQUALITY, Param(&set));
    host.Message(ICM_GETQUALITY, Param(&quality));
    EXPECT_EQ(quality, 7500u);

    set = 0xFFFFFFFF;  // the "default quality" value: low byte of 42949672
    host.Message(ICM_SETQUALITY, Param(&set));
    host.Message(ICM_GETQUALITY, Param(&quality));
    EXPECT_EQ(quality, 4000u);
}

TEST(CodecTest, GetInfoFillsTheDescriptionAndKeepsHostFields) {
    OpenInstance host(0x6002);
    ICINFO info;
    std::memset(&info, 0xAB, sizeof info);
    info.dwSize = 1234;
    EXPECT_EQ(host.Message(ICM_GETINFO, Param(&info), sizeof info), static_cast<LRESULT>(sizeof info));
    EXPECT_EQ(info.dwSize, 1234u);
    EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(info.fccHandler, MakeFourCC('R', 'Q', '4', '3'));
    EXPECT_EQ(info.dwFlags, 0xAFu);
    EXPECT_EQ(info.dwVersion, 0x00010000u);
    EXPECT_EQ(info.dwVersionICM, 0x104u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(info.szName)), u"RQ43 Codec");
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(info.szDescription)), u"Parlux Tevra43 Codec");
    EXPECT_EQ(info.szDriver[0], 0xABABu);  // not ours to write

    EXPECT_EQ(host.Message(ICM_GETINFO, 0, 77), static_cast<LRESULT>(sizeof(ICINFO)));
}

TEST(CodecTest, GetInfoNeverWritesPastTheSizeTheHostGave) {
    OpenInstance host(0x6003);
    unsigned char buffer[sizeof(ICINFO) + 16];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(host.Message(ICM_GETINFO, Param(buffer), 24), 24);
    ICINFO partial;
    std::memcpy(&partial, buffer, 24);
    EXPECT_EQ(partial.fccHandler, FOURCC_RQ43);
    for (size_t i = 24; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x5A) << i;
}

TEST(CodecTest, FramesInfoSetsQualityAndPerFrameTarget) {
    Codec codec;
    ICCOMPRESSFRAMES info{};
    info.lDataRate = 300000;
    info.dwRate = 30000;
    info.dwScale = 1001;
    info.lQuality = 7500;
    EXPECT_EQ(codec.CompressFramesInfo(&info, sizeof info), 0);
    EXPECT_EQ(codec.defaultFrameSize, 10010);
    EXPECT_EQ(codec.qualitySetting, 75);

    info.lQuality = -1;
    codec.CompressFramesInfo(&info, sizeof info);
    EXPECT_EQ(codec.qualitySetting, 0);

    info.dwScale = 0;  // no frame rate: no target rather than a division by zero
    codec.CompressFramesInfo(&info, sizeof info);
    EXPECT_EQ(codec.defaultFrameSize, 0);
    info.dwScale = 1;
    info.dwRate = 0;
    codec.CompressFramesInfo(&info, sizeof info);
    EXPECT_EQ(codec.defaultFrameSize, 0);

    info.dwRate = 1;
    info.dwScale = 1000000;  // absurd rates saturate instead of overflowing
    info.lDataRate = INT32_MAX;
    codec.CompressFramesInfo(&info, sizeof info);
    EXPECT_EQ(codec.defaultFrameSize, INT32_MAX);
}

TEST(CodecTest, StatusProcIsStoredAndCleared) {
    Codec codec;
    ICSETSTATUSPROC record{};
    record.lParam = 42;
    record.Status = [](LPARAM, UINT, LONG) -> LONG { return 0; };
    codec.SetStatusProc(&record, sizeof record);
    EXPECT_EQ(codec.statusParam, 42);
    EXPECT_NE(codec.statusProc, nullptr);
    record.Status = nullptr;
    codec.SetStatusProc(&record, sizeof record);
    EXPECT_EQ(codec.statusProc, nullptr);
}

}  // namespace
}  // namespace rq43
