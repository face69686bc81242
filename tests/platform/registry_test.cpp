#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/scratch_registry.h"

namespace rq43::platform {
namespace {

TEST(RegistryTest, ValuesPersistAcrossReadsWithCaseInsensitiveNames) {
    testing::ScratchRegistry registry;
    EXPECT_FALSE(RegistryKeyExists("A\\B"));
    ASSERT_TRUE(RegistryCreateKey("A\\B"));
    EXPECT_TRUE(RegistryKeyExists("a\\b"));
    uint8_t value[4] = {1, 2, 3, 4};
    ASSERT_TRUE(RegistrySetValue("A\\B", "Some \"Quoted\" Name", REG_DWORD, value, 4));

    uint8_t read[4] = {};
    uint32_t size = 4, type = 0;
    ASSERT_EQ(RegistryQueryValue("A\\B", "some \"quoted\" name", &type, read, &size), RegistryResult::Ok);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(read[3], 4);

    uint8_t small[2];
    size = 2;
    EXPECT_EQ(RegistryQueryValue("A\\B", "Some \"Quoted\" Name", nullptr, small, &size), RegistryResult::MoreData);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegistryQueryValue("A\\B", "absent", nullptr, read, &size), RegistryResult::NotFound);
}

TEST(RegistryTest, SettingAValueNeedsTheKey) {
    testing::ScratchRegistry registry;
    uint8_t value = 1;
    EXPECT_FALSE(RegistrySetValue("Missing", "x", REG_DWORD, &value, 1));
}

TEST(RegistryTest, WritesLeaveNoTemporaryFilesBehind) {
    testing::ScratchRegistry registry;
    ASSERT_TRUE(RegistryCreateKey("K"));
    uint8_t value[4] = {9, 0, 0, 0};
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(RegistrySetValue("K", "v" + std::to_string(i), REG_DWORD, value, 4));
    auto dir = std::filesystem::path(registry.Path()).parent_path();
    auto stem = std::filesystem::path(registry.Path()).filename().string();
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.rfind(stem + ".tmp", 0) == 0) << name;
    }
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
