#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/scratch_registry.h"

namespace rq43::platform {
namespace {

TEST(RegistryTest, ValuesPersistAcrossReadsWithCaseInsensitiveNames) {
    testing::ScratchRegistry registry;
    EXPECT_FALSE(RegistryKeyExists(RegistryHive::User, "A\\B"));
    ASSERT_TRUE(RegistryCreateKey(RegistryHive::User, "A\\B"));
    EXPECT_TRUE(RegistryKeyExists(RegistryHive::User, "a\\b"));
    uint8_t value[4] = {1, 2, 3, 4};
    ASSERT_TRUE(RegistrySetValue(RegistryHive::User, "A\\B", "Some \"Quoted\" Name", REG_DWORD, value, 4));

    uint8_t read[4] = {};
    uint32_t size = 4, type = 0;
    ASSERT_EQ(RegistryQueryValue(RegistryHive::User, "A\\B", "some \"quoted\" name", &type, read, &size),
              RegistryResult::Ok);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(read[3], 4);

    uint8_t small[2];
    size = 2;
    EXPECT_EQ(RegistryQueryValue(RegistryHive::User, "A\\B", "Some \"Quoted\" Name", nullptr, small, &size),
              RegistryResult::MoreData);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegistryQueryValue(RegistryHive::User, "A\\B", "absent", nullptr, read, &size),
              RegistryResult::NotFound);
}

TEST(RegistryTest, SettingAValueNeedsTheKey) {
    testing::ScratchRegistry registry;
    uint8_t value = 1;
    EXPECT_FALSE(RegistrySetValue(RegistryHive::User, "Missing", "x", REG_DWORD, &value, 1));
}

TEST(RegistryTest, WritesLeaveNoTemporaryFilesBehind) {
    testing::ScratchRegistry registry;
    ASSERT_TRUE(RegistryCreateKey(RegistryHive::User, "K"));
    uint8_t value[4] = {9, 0, 0, 0};
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(RegistrySetValue(RegistryHive::User, "K", "v" + std::to_string(i), REG_DWORD, value, 4));
    auto dir = std::filesystem::path(registry.Path()).parent_path();
    auto stem = std::filesystem::path(registry.Path()).filename().string();
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.rfind(stem + ".tmp", 0) == 0) << name;
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Rewriting drops what it cannot parse, so a file with such lines is refused, not rewritten.
TEST(RegistryTest, AStoreWithLinesItCannotReadIsLeftAsItIs) {
    testing::ScratchRegistry registry;
    const std::string text = "[K]\n\"a\"=hex(4):01,00,00,00\n\"b\"=dword:00000002\n";
    std::ofstream(registry.Path()) << text;
    uint8_t value = 1;
    EXPECT_FALSE(RegistrySetValue(RegistryHive::User, "K", "c", REG_DWORD, &value, 1));
    EXPECT_FALSE(RegistryCreateKey(RegistryHive::User, "L"));
    EXPECT_NE(RegistryLastError().find(registry.Path() + ", line 3"), std::string::npos)
        << RegistryLastError();
    EXPECT_EQ(ReadAll(registry.Path()), text);
    uint8_t read[4];
    uint32_t size = sizeof read;
    EXPECT_EQ(RegistryQueryValue(RegistryHive::User, "K", "a", nullptr, read, &size), RegistryResult::Ok);
}

TEST(RegistryTest, RewritesKeepTheStoresLinkAndPermissions) {
    testing::ScratchRegistry registry;
    std::string target = registry.Path() + ".target";
    std::ofstream(target) << "[K]\n";
    std::filesystem::permissions(target,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::create_symlink(target, registry.Path());
    uint8_t value = 1;
    EXPECT_TRUE(RegistrySetValue(RegistryHive::User, "K", "v", REG_DWORD, &value, 1));
    EXPECT_TRUE(std::filesystem::is_symlink(registry.Path()));
    EXPECT_NE(ReadAll(target).find("\"v\"=hex(4):01"), std::string::npos);
    EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::remove(target);
}

TEST(RegistryTest, DefaultLocationFollowsTheEnvironment) {
    SetRegistryFile("");
    const char* saved = std::getenv("RQ43_REGISTRY_FILE");
    std::string keep = saved ? saved : "";
    setenv("RQ43_REGISTRY_FILE", "/tmp/rq43-env-registry.txt", 1);
    EXPECT_EQ(RegistryFile(), "/tmp/rq43-env-registry.txt");
    unsetenv("RQ43_REGISTRY_FILE");
    setenv("XDG_CONFIG_HOME", "/tmp/rq43-xdg", 1);
    EXPECT_EQ(RegistryFile(), "/tmp/rq43-xdg/rq43/registry.txt");
    unsetenv("XDG_CONFIG_HOME");
    if (saved) setenv("RQ43_REGISTRY_FILE", keep.c_str(), 1);
}

}  // namespace
}  // namespace rq43::platform
