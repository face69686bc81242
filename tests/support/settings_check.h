// Compares all six settings at once, naming the one that differs.
#pragma once

#include <gtest/gtest.h>

#include "config/settings_store.h"

namespace rq43::testing {

inline void ExpectSettings(const CodecSettings& actual, const CodecSettings& expected) {
    EXPECT_EQ(actual.fastSearch, expected.fastSearch) << "fast search";
    EXPECT_EQ(actual.subBlockMotion, expected.subBlockMotion) << "sub-block motion";
    EXPECT_EQ(actual.autoKeyInsert, expected.autoKeyInsert) << "auto key insert";
    EXPECT_EQ(actual.strongCompression, expected.strongCompression) << "strong compression";
    EXPECT_EQ(actual.prefilterStrength, expected.prefilterStrength) << "prefilter strength";
    EXPECT_EQ(actual.prefilterIterations, expected.prefilterIterations) << "prefilter iterations";
}

}  // namespace rq43::testing
