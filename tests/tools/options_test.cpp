#include "tools/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/cli_errors.h"

namespace rq43::cli {
namespace {

constexpr OptionSpec kSpecs[] = {
    {"quality", "Q", "quality"},
    {"set", "NAME=VALUE", "set"},
    {"crop", nullptr, "crop"},
};

ParsedArgs Parse(std::vector<std::string> args) {
    return ParseArgs(args, kSpecs);
}

TEST(ParseArgs, ValuesFlagsAndPositionals) {
    ParsedArgs p =
        Parse({"in.y4m", "--quality", "50", "--crop", "--set=A=1", "--set", "B=2", "-", "out.avi"});
    EXPECT_EQ(p.positional, (std::vector<std::string>{"in.y4m", "-", "out.avi"}));
    ASSERT_NE(p.Last("quality"), nullptr);
    EXPECT_EQ(*p.Last("quality"), "50");
    EXPECT_TRUE(p.Has("crop"));
    EXPECT_EQ(p.values.at("set"), (std::vector<std::string>{"A=1", "B=2"}));
    EXPECT_FALSE(p.help);
    EXPECT_EQ(p.Last("missing"), nullptr);
}

TEST(ParseArgs, DoubleDashEndsOptionsAndHelpIsRecognised) {
    ParsedArgs p = Parse({"--", "--crop", "-x"});
    EXPECT_EQ(p.positional, (std::vector<std::string>{"--crop", "-x"}));
    EXPECT_FALSE(p.Has("crop"));
    EXPECT_TRUE(Parse({"-h"}).help);
    EXPECT_TRUE(Parse({"a", "--help"}).help);
}

TEST(ParseArgs, UsageErrors) {
    EXPECT_THROW(Parse({"--nope"}), UsageError);
    EXPECT_THROW(Parse({"-q"}), UsageError);
    EXPECT_THROW(Parse({"--quality"}), UsageError);
    EXPECT_THROW(Parse({"--crop=1"}), UsageError);
}

TEST(ParseInteger, AcceptsOnlyWholeNumbersInRange) {
    EXPECT_EQ(ParseInteger("0", "n", 0, 100), 0);
    EXPECT_EQ(ParseInteger("100", "n", 0, 100), 100);
    EXPECT_EQ(ParseInteger("-3", "n", -5, 5), -3);
    for (const char* bad : {"", "101", "-1", "1.5", "12abc", " 5", "0x10", "99999999999999999999"})
        EXPECT_THROW(ParseInteger(bad, "n", 0, 100), UsageError) << bad;
}

}  // namespace
}  // namespace rq43::cli
