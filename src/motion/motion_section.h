// The motion section of an inter frame: the frame's motion field coded by one of five methods, whichever
// is shortest, and decoded back with every length, run and vector checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "motion/motion_field.h"
#include "picture/yuv_frame.h"

namespace rq43 {

enum class MotionMethod : uint8_t {
    Plain = 0,
    Temporal = 1,
    SubBlockPlain = 2,
    SubBlockTemporal = 3,
    Spatial = 4,
};

inline constexpr size_t kMaxMotionSectionSize = 65535;  // the frame header's 16-bit length

// Codes field.current (and subVectors when field.subBlockSearch is set and field.subBlockCount > 0) into
// `section` by the shortest method. False, leaving `section` empty, when the section cannot be represented
// (longer than 65535 bytes, or a vector outside -64..64 x -32..32): the caller then codes a key frame.
[[nodiscard]] bool EncodeMotionSection(const MotionField& field, std::vector<uint8_t>& section);

// Builds the section of one given method into `section`; false, leaving it empty, when it cannot be
// represented.
[[nodiscard]] bool EncodeMotionSectionWith(const MotionField& field, MotionMethod method,
                                           std::vector<uint8_t>& section);

// Decodes `length` bytes at `section` into field (current, subVectors, subBlockMotion, subBlockCount,
// target, reference), reading field.previous as temporal predictor. The flag map's range decoder may read
// up to `readableEnd` (the end of the frame; nullptr: the section's end), as its final code value spans
// the bytes after it. Refuses, leaving the field untouched, a method above 4, lengths beyond the section,
// vector streams that do not cover their counts, runs that overrun the macroblock count, a spatial flag on
// the first macroblock, and vectors whose compensation would read outside the reference allocation.
[[nodiscard]] bool DecodeMotionSection(YuvFrame& target, const YuvFrame& reference, const uint8_t* section,
                                       size_t length, MotionField& field,
                                       const uint8_t* readableEnd = nullptr);

}  // namespace rq43
