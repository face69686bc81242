#include "config/settings_store.h"

#include <cstring>

#include "platform/registry.h"

namespace rq43 {

int32_t LoadSetting(const char* valueName, int32_t defaultValue) {
    if (!platform::RegistryKeyExists(kSettingsKey)) return defaultValue;
    uint8_t buffer[4];
    std::memcpy(buffer, &defaultValue, sizeof buffer);
    uint32_t size = sizeof buffer;
    if (platform::RegistryQueryValue(kSettingsKey, valueName, nullptr, buffer, &size) != platform::RegistryResult::Ok)
        return defaultValue;
    int32_t result;
    std::memcpy(&result, buffer, sizeof result);
    return result;
}

void SaveSetting(const char* valueName, int32_t value) {
    if (!platform::RegistryKeyExists(kSettingsKey) && !platform::RegistryCreateKey(kSettingsKey)) return;
    uint8_t bytes[4];
    std::memcpy(bytes, &value, sizeof bytes);
    platform::RegistrySetValue(kSettingsKey, valueName, platform::REG_DWORD, bytes, sizeof bytes);
}

CodecSettings LoadCodecSettings() {
    CodecSettings s;
    s.fastSearch = static_cast<uint8_t>(LoadSetting(kFastSearchName, 0));
    s.subBlockMotion = static_cast<uint8_t>(LoadSetting(kSubBlockMotionName, 0));
    s.autoKeyInsert = static_cast<uint8_t>(LoadSetting(kAutoKeyInsertName, 1));
    s.strongCompression = static_cast<uint8_t>(LoadSetting(kStrongCompressionName, 1));
    s.prefilterStrength = static_cast<int8_t>(LoadSetting(kPrefilterStrengthName, 0));
    s.prefilterIterations = static_cast<int8_t>(LoadSetting(kPrefilterIterationsName, 1));
    return s;
}

// Values are stored sign-extended from their 8-bit fields.
void SaveCodecSettings(const CodecSettings& s) {
    SaveSetting(kFastSearchName, static_cast<int8_t>(s.fastSearch));
    SaveSetting(kSubBlockMotionName, static_cast<int8_t>(s.subBlockMotion));
    SaveSetting(kAutoKeyInsertName, static_cast<int8_t>(s.autoKeyInsert));
    SaveSetting(kStrongCompressionName, static_cast<int8_t>(s.strongCompression));
    SaveSetting(kPrefilterStrengthName, s.prefilterStrength);
    SaveSetting(kPrefilterIterationsName, s.prefilterIterations);
}

}  // namespace rq43
