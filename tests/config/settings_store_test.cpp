#include "config/settings_store.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/registry.h"
#include "support/scratch_registry.h"
#include "support/settings_check.h"

namespace rq43 {
namespace {

using platform::RegistryCreateKey;
using platform::RegistryHive;
using platform::RegistrySetValue;

void StoreRaw(RegistryHive hive, const char* name, uint32_t type, std::initializer_list<uint8_t> bytes) {
    ASSERT_TRUE(RegistryCreateKey(hive, kSettingsKey));
    std::vector<uint8_t> data(bytes);
    ASSERT_TRUE(
        RegistrySetValue(hive, kSettingsKey, name, type, data.data(), static_cast<uint32_t>(data.size())));
}
void StoreRaw(const char* name, uint32_t type, std::initializer_list<uint8_t> bytes) {
    StoreRaw(RegistryHive::Machine, name, type, bytes);
}

TEST(SettingsStoreTest, AbsentKeyGivesTheDefaults) {
    testing::ScratchRegistry registry;
    testing::ExpectSettings(LoadCodecSettings(), CodecSettings{0, 0, 1, 1, 0, 1});
}

TEST(SettingsStoreTest, SavedValuesLoadBackAsTheirLowByte) {
    testing::ScratchRegistry registry;
    SaveSetting(kPrefilterStrengthName, 300);
    EXPECT_EQ(LoadSetting(kPrefilterStrengthName, 0), 300);
    EXPECT_EQ(LoadCodecSettings().prefilterStrength, 44);

    CodecSettings s{1, 1, 0, 0, 7, 3};
    SaveCodecSettings(s);
    testing::ExpectSettings(LoadCodecSettings(), s);
}

TEST(SettingsStoreTest, ShortDataOverlaysTheDefaultWhateverItsType) {
    testing::ScratchRegistry registry;
    StoreRaw(kFastSearchName, platform::REG_SZ, {'1', 0});
    EXPECT_EQ(LoadSetting(kFastSearchName, 0), 49);
    // Two bytes over a default of 0x01020304 keep the default's upper bytes.
    StoreRaw(kAutoKeyInsertName, platform::REG_BINARY, {0xAA, 0xBB});
    EXPECT_EQ(static_cast<uint32_t>(LoadSetting(kAutoKeyInsertName, 0x01020304)), 0x0102BBAAu);
}

TEST(SettingsStoreTest, DataLongerThanFourBytesIsIgnored) {
    testing::ScratchRegistry registry;
    StoreRaw(kPrefilterIterationsName, platform::REG_BINARY, {1, 2, 3, 4, 5});
    EXPECT_EQ(LoadSetting(kPrefilterIterationsName, 1), 1);
    StoreRaw(kStrongCompressionName, platform::REG_SZ, {'h', 'e', 'l', 'l', 'o', 0});
    EXPECT_EQ(LoadSetting(kStrongCompressionName, 1), 1);
}

TEST(SettingsStoreTest, MalformedStoreReadsAsDefaults) {
    testing::ScratchRegistry registry;
    {
        std::ofstream file(registry.Path());
        file << "[Software\\Obrant\\RQ43Video Codec]\n\"Fast Search\"=hex(4):zz,01\n\"Auto Key "
                "Insert\"=nonsense\n"
             << std::string(5000, '\xff') << "\n\"Prefilter Strength\"=hex(4):05,00,00,00\n";
    }
    CodecSettings s = LoadCodecSettings();
    EXPECT_EQ(s.fastSearch, 0);
    EXPECT_EQ(s.autoKeyInsert, 1);
    EXPECT_EQ(s.prefilterStrength, 5);
}

TEST(SettingsStoreTest, UnwritableStoreIsReported) {
    testing::ScratchRegistry registry;
    platform::SetRegistryFile("/proc/rq43-cannot-exist/registry.txt");
    EXPECT_FALSE(SaveSetting(kFastSearchName, 0));
    EXPECT_NE(platform::RegistryLastError().find("/proc/rq43-cannot-exist"), std::string::npos);
    EXPECT_EQ(LoadSetting(kFastSearchName, 7), 7);
}

// The two hives in files of their own, as on Windows; the machine's may be out of reach.
class TwoHivesTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetRegistryFile(RegistryHive::Machine, registry.Path() + ".machine"); }
    void TearDown() override { std::remove((registry.Path() + ".machine").c_str()); }
    static void StoreInHive(RegistryHive hive, const char* name, std::initializer_list<uint8_t> bytes) {
        StoreRaw(hive, name, platform::REG_DWORD, bytes);
    }
    static int32_t StoredIn(RegistryHive hive, const char* name) {
        int32_t value = -1;
        uint32_t size = sizeof value;
        platform::RegistryQueryValue(hive, kSettingsKey, name, nullptr, reinterpret_cast<uint8_t*>(&value),
                                     &size);
        return value;
    }
    testing::ScratchRegistry registry;  // the user's file; the machine's sits beside it
};

TEST_F(TwoHivesTest, TheUsersValueOverridesTheMachinesByTheSameByteRules) {
    StoreInHive(RegistryHive::Machine, kPrefilterStrengthName, {7, 0, 0, 0});
    StoreInHive(RegistryHive::Machine, kPrefilterIterationsName, {3, 0, 0, 0});
    StoreInHive(RegistryHive::Machine, kFastSearchName, {1, 0, 0, 0});
    StoreInHive(RegistryHive::User, kPrefilterStrengthName, {0x2c, 1, 0, 0});    // 300
    StoreInHive(RegistryHive::User, kPrefilterIterationsName, {1, 2, 3, 4, 5});  // too long: ignored
    CodecSettings s = LoadCodecSettings();
    EXPECT_EQ(s.prefilterStrength, 44);
    EXPECT_EQ(s.prefilterIterations, 3);
    EXPECT_EQ(s.fastSearch, 1);
}

TEST_F(TwoHivesTest, AMachineStoreOutOfReachKeepsTheChoiceForTheUser) {
    platform::SetRegistryFile(RegistryHive::Machine, "/proc/rq43-cannot-exist/registry.txt");
    EXPECT_TRUE(SaveCodecSettings(CodecSettings{1, 0, 0, 1, 12, 2}));
    CodecSettings s = LoadCodecSettings();
    EXPECT_EQ(s.fastSearch, 1);
    EXPECT_EQ(s.autoKeyInsert, 0);
    EXPECT_EQ(s.prefilterStrength, 12);
    EXPECT_EQ(StoredIn(RegistryHive::User, kPrefilterIterationsName), 2);
}

TEST_F(TwoHivesTest, SavingForTheMachineBringsAStaleUserValueInLine) {
    StoreInHive(RegistryHive::User, kStrongCompressionName, {0});
    EXPECT_TRUE(SaveSetting(kStrongCompressionName, 1));
    EXPECT_EQ(StoredIn(RegistryHive::Machine, kStrongCompressionName), 1);
    EXPECT_EQ(LoadSetting(kStrongCompressionName, 0), 1);
    // A user value that already agrees is left alone: no user key appears where there was none.
    EXPECT_TRUE(SaveSetting(kFastSearchName, 1));
    EXPECT_EQ(StoredIn(RegistryHive::User, kFastSearchName), -1);
}

}  // namespace
}  // namespace rq43
