// The six persistent options, kept machine-wide in the platform's store, where a user's own values
// override the machine's: a user who may not change the machine's settings still keeps a choice.
#pragma once

#include <cstdint>
#include <functional>

namespace rq43 {

inline constexpr const char* kSettingsKey = "Software\\Obrant\\RQ43Video Codec";

inline constexpr const char* kFastSearchName = "Fast Search";
inline constexpr const char* kSubBlockMotionName = "SubBlock Motion";
inline constexpr const char* kAutoKeyInsertName = "Auto Key Insert";
inline constexpr const char* kStrongCompressionName = "Strong Compression";
inline constexpr const char* kPrefilterStrengthName = "Prefilter Strength";
inline constexpr const char* kPrefilterIterationsName = "Prefilter Iterations";

struct CodecSettings {
    uint8_t fastSearch = 0;
    uint8_t subBlockMotion = 0;
    uint8_t autoKeyInsert = 1;
    uint8_t strongCompression = 1;
    int8_t prefilterStrength = 0;
    int8_t prefilterIterations = 1;
};

// The value stored under valueName, or defaultValue when the key or value is absent or the stored data
// is longer than 4 bytes; shorter data is taken byte for byte over the default, whatever its type. The
// machine's value is read first, then the user's over it by the same rule.
int32_t LoadSetting(const char* valueName, int32_t defaultValue);

// Stores value as a 4-byte number, creating the key if needed: for the machine, or where that cannot be
// done, for the user. Returns false, with platform::RegistryLastError() saying why, when the value the
// next load gives is not the one saved.
bool SaveSetting(const char* valueName, int32_t value);

// All six, in their fixed order, each with its default; only the low byte of each value is kept.
CodecSettings LoadCodecSettings();
bool SaveCodecSettings(const CodecSettings& settings);

// Loads the six, lets `change` edit them and saves all six, with no other writer of the store in
// between. False as for SaveSetting, or when the store cannot be read (nothing is then written).
bool ChangeCodecSettings(const std::function<void(CodecSettings&)>& change);

}  // namespace rq43
