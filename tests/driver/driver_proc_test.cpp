#include "driver/driver_proc.h"

#include <gtest/gtest.h>

#include <memory>

#include "driver/codec.h"
#include "driver/instance_table.h"
#include "support/driver_host.h"

namespace rq43 {
namespace {

using testing::Handle;
using testing::OpenInstance;
using testing::Param;
using testing::Send;

TEST(DriverProcTest, PlainDriverMessagesAnswerWithoutAnInstance) {
    HDRVR none = Handle(0x9990);
    EXPECT_EQ(Send(none, DRV_LOAD), 1);
    EXPECT_EQ(Send(none, DRV_ENABLE), 1);
    EXPECT_EQ(Send(none, DRV_DISABLE), 1);
    EXPECT_EQ(Send(none, DRV_FREE), 1);
    EXPECT_EQ(Send(none, DRV_INSTALL), 1);
    EXPECT_EQ(Send(none, DRV_REMOVE), 1);
    EXPECT_EQ(Send(none, DRV_CONFIGURE), -1);
    EXPECT_EQ(Send(none, DRV_QUERYCONFIGURE), 0);
    EXPECT_EQ(Send(none, DRV_CLOSE), 1);  // never opened: nothing changes

    // The rest go to the system's default procedure, whose answer here is the neutral 0.
    EXPECT_EQ(Send(none, 0x0010), 0);
}

TEST(DriverProcTest, OpenAcceptsNullRecordAndRefusesOtherTypes) {
    size_t entries = Instances().Count();
    LRESULT instance = Send(Handle(0x1001), DRV_OPEN, 0, 0);
    EXPECT_NE(instance, 0);
    EXPECT_EQ(Instances().Count(), entries + 1);
    EXPECT_EQ(Send(Handle(0x1001), DRV_CLOSE), 1);
    EXPECT_EQ(Instances().Count(), entries);

    ICOPEN open{};
    open.fccType = MakeFourCC('v', 'i', 'd', 's');
    open.dwError = 12345;
    EXPECT_EQ(Send(Handle(0x1002), DRV_OPEN, 0, Param(&open)), 0);
    EXPECT_EQ(open.dwError, 12345);  // left untouched
    EXPECT_EQ(Instances().Count(), entries);

    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = MakeFourCC('n', 'o', 'n', 'e');  // not examined
    LRESULT opened = Send(Handle(0x1002), DRV_OPEN, 0, Param(&open));
    EXPECT_NE(opened, 0);
    EXPECT_EQ(open.dwError, ICERR_OK);
    Send(Handle(0x1002), DRV_CLOSE);
}

TEST(DriverProcTest, FixedAnswers) {
    OpenInstance host(0x2001);
    DWORD value = 0;
    EXPECT_EQ(host.Message(ICM_GETDEFAULTQUALITY, 0), 0);
    EXPECT_EQ(host.Message(ICM_GETDEFAULTQUALITY, Param(&value)), 0);
    EXPECT_EQ(value, 7000u);
    EXPECT_EQ(host.Message(ICM_GETDEFAULTKEYFRAMERATE, Param(&value)), 0);
    EXPECT_EQ(value, 25u);
    EXPECT_EQ(host.Message(ICM_GETSTATE), 0);
    EXPECT_EQ(host.Message(ICM_SETSTATE), 0);
    EXPECT_EQ(host.Message(ICM_GET), 0);
    EXPECT_EQ(host.Message(ICM_COMPRESS_FRAMES), ICERR_UNSUPPORTED);
    EXPECT_EQ(host.Message(ICM_SET), ICERR_UNSUPPORTED);
    EXPECT_EQ(host.Message(0x4001), ICERR_UNSUPPORTED);
    EXPECT_EQ(host.Message(ICM_DECOMPRESS_SET_PALETTE), ICERR_UNSUPPORTED);
    EXPECT_EQ(host.Message(ICM_DECOMPRESS_GET_PALETTE), ICERR_UNSUPPORTED);
    EXPECT_EQ(host.Message(ICM_GETQUALITY, 0), 0);
    EXPECT_EQ(host.Message(ICM_SETQUALITY, 0), 0);
}

TEST(DriverProcTest, ConfigureQueryIsAnsweredByTheInstance) {
    OpenInstance host(0x2002);
    EXPECT_EQ(host.Message(ICM_CONFIGURE, -1), ICERR_OK);
    EXPECT_EQ(host.Message(ICM_ABOUT, -1), ICERR_OK);
    EXPECT_EQ(host.Message(DRV_CONFIGURE), -1);
}

TEST(DriverProcTest, CompressorMessageWithoutInstanceIsUnsupported) {
    DWORD quality = 0;
    BITMAPINFOHEADER in = testing::Header(320, 240, 24, BI_RGB);
    EXPECT_EQ(Send(Handle(0x3001), ICM_GETQUALITY, Param(&quality)), ICERR_UNSUPPORTED);
    EXPECT_EQ(Send(Handle(0x3001), ICM_COMPRESS_QUERY, Param(&in), 0), ICERR_UNSUPPORTED);
    EXPECT_EQ(Send(Handle(0x3001), ICM_GETINFO, 0, 0), ICERR_UNSUPPORTED);
}

TEST(DriverProcTest, SameHandleTwiceMakesTwoEntriesAndCloseTakesTheFirst) {
    HDRVR driver = Handle(0x4001);
    size_t entries = Instances().Count();
    LRESULT first = Send(driver, DRV_OPEN, 0, 0);
    LRESULT second = Send(driver, DRV_OPEN, 0, 0);
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(Instances().Count(), entries + 2);

    // Messages reach the first instance.
    DWORD quality = 5000;
    Send(driver, ICM_SETQUALITY, Param(&quality));
    EXPECT_EQ(reinterpret_cast<Codec*>(first)->qualitySetting, 50);
    EXPECT_EQ(reinterpret_cast<Codec*>(second)->qualitySetting, 90);

    const std::weak_ptr<CodecBase> closing = Instances().Find(driver);
    Send(driver, DRV_CLOSE);
    EXPECT_TRUE(closing.expired());
    EXPECT_EQ(reinterpret_cast<LRESULT>(Instances().Find(driver).get()), second);
    Send(driver, DRV_CLOSE);
    EXPECT_FALSE(Instances().Contains(driver));
}

TEST(DriverProcTest, ClosingTheMiddleOfThreeKeepsTheOthersInOrder) {
    size_t base = Instances().Count();
    LRESULT a = Send(Handle(0x5001), DRV_OPEN, 0, 0);
    LRESULT b = Send(Handle(0x5002), DRV_OPEN, 0, 0);
    LRESULT c = Send(Handle(0x5003), DRV_OPEN, 0, 0);
    ASSERT_TRUE(a && b && c);
    Send(Handle(0x5002), DRV_CLOSE);
    ASSERT_EQ(Instances().Count(), base + 2);
    EXPECT_EQ(Instances().At(base).driverHandle, Handle(0x5001));
    EXPECT_EQ(reinterpret_cast<LRESULT>(Instances().At(base).codec.get()), a);
    EXPECT_EQ(Instances().At(base + 1).driverHandle, Handle(0x5003));
    EXPECT_EQ(reinterpret_cast<LRESULT>(Instances().At(base + 1).codec.get()), c);
    Send(Handle(0x5001), DRV_CLOSE);
    Send(Handle(0x5003), DRV_CLOSE);
    EXPECT_EQ(Instances().Count(), base);
}

}  // namespace
}  // namespace rq43
