#include "config/settings_store.h"

#include <cstring>

#include "platform/registry.h"

namespace rq43 {

namespace {

using platform::RegistryHive;

// The value of one hive laid over `value`; unchanged where that hive has none it can give.
int32_t LoadFrom(RegistryHive hive, const char* valueName, int32_t value) {
    uint8_t buffer[4];
    std::memcpy(buffer, &value, sizeof buffer);
    uint32_t size = sizeof buffer;
    if (platform::RegistryQueryValue(hive, kSettingsKey, valueName, nullptr, buffer, &size) !=
        platform::RegistryResult::Ok)
        return value;
    std::memcpy(&value, buffer, sizeof value);
    return value;
}

bool SaveTo(RegistryHive hive, const char* valueName, int32_t value) {
    if (!platform::RegistryKeyExists(hive, kSettingsKey) && !platform::RegistryCreateKey(hive, kSettingsKey))
        return false;
    uint8_t bytes[4];
    std::memcpy(bytes, &value, sizeof bytes);
    return platform::RegistrySetValue(hive, kSettingsKey, valueName, platform::REG_DWORD, bytes,
                                      sizeof bytes);
}

// A store that exists but cannot be read would load as defaults, and saving those would lose its values.
bool StoreReadable(RegistryHive hive) {
    uint32_t size = 0;
    return platform::RegistryQueryValue(hive, kSettingsKey, kFastSearchName, nullptr, nullptr, &size) !=
           platform::RegistryResult::Failed;
}

}  // namespace

int32_t LoadSetting(const char* valueName, int32_t defaultValue) {
    return LoadFrom(RegistryHive::User, valueName, LoadFrom(RegistryHive::Machine, valueName, defaultValue));
}

// A user's value left from an earlier fallback would override what the machine now holds, so it is
// brought in line too.
bool SaveSetting(const char* valueName, int32_t value) {
    platform::RegistryLock lock;
    if (!lock.Locked()) return false;
    if (!SaveTo(RegistryHive::Machine, valueName, value)) return SaveTo(RegistryHive::User, valueName, value);
    return LoadSetting(valueName, value) == value || SaveTo(RegistryHive::User, valueName, value);
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

// Values are stored sign-extended from their 8-bit fields. All six are attempted even after a failure,
// as each stands alone.
bool SaveCodecSettings(const CodecSettings& s) {
    bool saved = SaveSetting(kFastSearchName, static_cast<int8_t>(s.fastSearch));
    saved = SaveSetting(kSubBlockMotionName, static_cast<int8_t>(s.subBlockMotion)) && saved;
    saved = SaveSetting(kAutoKeyInsertName, static_cast<int8_t>(s.autoKeyInsert)) && saved;
    saved = SaveSetting(kStrongCompressionName, static_cast<int8_t>(s.strongCompression)) && saved;
    saved = SaveSetting(kPrefilterStrengthName, s.prefilterStrength) && saved;
    return SaveSetting(kPrefilterIterationsName, s.prefilterIterations) && saved;
}

bool ChangeCodecSettings(const std::function<void(CodecSettings&)>& change) {
    platform::RegistryLock lock;
    if (!lock.Locked() || !StoreReadable(RegistryHive::Machine) || !StoreReadable(RegistryHive::User))
        return false;
    CodecSettings settings = LoadCodecSettings();
    change(settings);
    return SaveCodecSettings(settings);
}

}  // namespace rq43
