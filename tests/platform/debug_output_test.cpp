#include "platform/debug_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rq43::platform {
namespace {

// A sink left installed would be called after its owner is gone.
TEST(DebugOutputTest, SinkSeesTheLinesInOrderUntilRemoved) {
    std::vector<std::string> routed;
    SetDebugOutputSink([&](const char* text) { routed.emplace_back(text); });
    OutputDebugText("one\n");
    OutputDebugText(nullptr);
    OutputDebugText("two\n");
    SetDebugOutputSink(nullptr);
    OutputDebugText("three\n");
    EXPECT_EQ(routed, (std::vector<std::string>{"one\n", "two\n"}));
}

}  // namespace
}  // namespace rq43::platform
