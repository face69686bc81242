#include "config/settings_store.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/registry.h"
#include "support/scratch_registry.h"

namespace rq43 {
namespace {

using platform::RegistryCreateKey;
using platform::RegistrySetValue;

void StoreRaw(const char* name, uint32_t type, std::initializer_list<uint8_t> bytes) {
    ASSERT_TRUE(RegistryCreateKey(kSettingsKey));
    std::vector<uint8_t> data(bytes);
    ASSERT_TRUE(RegistrySetValue(kSettingsKey, name, type, data.data(), static_cast<uint32_t>(data.size())));
}

TEST(SettingsStoreTest, AbsentKeyGivesTheDefaults) {
    testing::ScratchRegistry registry;
    CodecSettings s = LoadCodecSettings();
    EXPECT_EQ(s.fastSearch, 0);
    EXPECT_EQ(s.subBlockMotion, 0);
    EXPECT_EQ(s.autoKeyInsert, 1);
    EXPECT_EQ(s.strongCompression, 1);
    EXPECT_EQ(s.prefilterStrength, 0);
    EXPECT_EQ(s.prefilterIterations, 1);
}

TEST(SettingsStoreTest, SavedValuesLoadBackAsTheirLowByte) {
    testing::ScratchRegistry registry;
    SaveSetting(kPrefilterStrengthName, 300);
    EXPECT_EQ(LoadSetting(kPrefilterStrengthName, 0), 300);
    EXPECT_EQ(LoadCodecSettings().prefilterStrength, 44);

    CodecSettings s{1, 1, 0, 0, 7, 3};
    SaveCodecSettings(s);
    CodecSettings loaded = LoadCodecSettings();
    EXPECT_EQ(loaded.fastSearch, 1);
    EXPECT_EQ(loaded.subBlockMotion, 1);
    EXPECT_EQ(loaded.autoKeyInsert, 0);
    EXPECT_EQ(loaded.strongCompression, 0);
    EXPECT_EQ(loaded.prefilterStrength, 7);
    EXPECT_EQ(loaded.prefilterIterations, 3);
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
        file << "[Software\\Obrant\\RQ43Video Codec]\n\"Fast Search\"=hex(4):zz,01\n\"Auto Key Insert\"=nonsense\n"
             << std::string(5000, '\xff') << "\n\"Prefilter Strength\"=hex(4):05,00,00,00\n";
    }
    CodecSettings s = LoadCodecSettings();
    EXPECT_EQ(s.fastSearch, 0);
    EXPECT_EQ(s.autoKeyInsert, 1);
    EXPECT_EQ(s.prefilterStrength, 5);
}

TEST(SettingsStoreTest, UnwritableStoreIsSilent) {
    testing::ScratchRegistry registry;
    platform::SetRegistryFile("/proc/rq43-cannot-exist/registry.txt");
    SaveSetting(kFastSearchName, 1);
    EXPECT_EQ(LoadSetting(kFastSearchName, 0), 0);
}

}  // namespace
}  // namespace rq43
