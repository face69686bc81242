// The six persistent options, kept machine-wide in the platform's store.
#pragma once

#include <cstdint>

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
// is longer than 4 bytes; shorter data is taken byte for byte over the default, whatever its type.
int32_t LoadSetting(const char* valueName, int32_t defaultValue);

// Stores value as a 4-byte number, creating the key if needed. Failures are silent.
void SaveSetting(const char* valueName, int32_t value);

// All six, in their fixed order, each with its default; only the low byte of each value is kept.
CodecSettings LoadCodecSettings();
void SaveCodecSettings(const CodecSettings& settings);

}  // namespace rq43
