// The shared module, loaded the way a host loads it: no header of ours, only the published records.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/vfw.h"

namespace rq43 {
namespace {

using DriverProcFunction = int64_t (*)(uintptr_t, void*, uint32_t, intptr_t, intptr_t);

std::string RunCommand(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return output;
    std::array<char, 256> chunk;
    while (fgets(chunk.data(), chunk.size(), pipe.get())) output += chunk.data();
    return output;
}

TEST(ModuleTest, ExportsOnlyDriverProc) {
    std::string symbols =
        RunCommand(std::string("nm -D --defined-only ") + RQ43_MODULE_PATH + " | awk '{print $3}'");
    EXPECT_EQ(symbols, "DriverProc\n");
}

TEST(ModuleTest, HostCanOpenQueryAndClose) {
    void* module = dlopen(RQ43_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto proc = reinterpret_cast<DriverProcFunction>(dlsym(module, "DriverProc"));
    ASSERT_NE(proc, nullptr);

    void* driver = reinterpret_cast<void*>(uintptr_t{0x7001});
    EXPECT_EQ(proc(0, driver, DRV_LOAD, 0, 0), 1);
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = FOURCC_RQ43;
    EXPECT_NE(proc(0, driver, DRV_OPEN, 0, reinterpret_cast<intptr_t>(&open)), 0);

    ICINFO info{};
    EXPECT_EQ(proc(0, driver, ICM_GETINFO, reinterpret_cast<intptr_t>(&info), sizeof info),
              int64_t{sizeof info});
    EXPECT_EQ(info.fccHandler, FOURCC_RQ43);

    BITMAPINFOHEADER in{};
    in.biSize = sizeof in;
    in.biWidth = 320;
    in.biHeight = 240;
    in.biBitCount = 24;
    EXPECT_EQ(proc(0, driver, ICM_COMPRESS_QUERY, reinterpret_cast<intptr_t>(&in), 0), ICERR_OK);
    BITMAPINFOHEADER out{};
    EXPECT_EQ(proc(0, driver, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<intptr_t>(&in),
                   reinterpret_cast<intptr_t>(&out)),
              ICERR_OK);
    EXPECT_EQ(proc(0, driver, ICM_COMPRESS_GET_SIZE, reinterpret_cast<intptr_t>(&in),
                   reinterpret_cast<intptr_t>(&out)),
              307208);
    EXPECT_EQ(proc(0, driver, DRV_CLOSE, 0, 0), 1);
    EXPECT_EQ(proc(0, driver, DRV_FREE, 0, 0), 1);
    dlclose(module);
}

}  // namespace
}  // namespace rq43
