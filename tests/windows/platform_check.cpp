// The Windows side of the platform layer on a real Windows API (Wine's): the two-worker split, the
// registry binding under the settings store, processor facts and the debug channel. Built by the
// cross build only; prints PASS/FAIL lines like vcm_host and exits non-zero on any failure.
#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "platform/debug_output.h"
#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/worker_pair.h"

// Last: the platform defines some of our constants' names as macros (REG_SZ and REG_BINARY here).
#include <windows.h>

namespace {

namespace platform = rq43::platform;
int failures = 0;
const int kBits = static_cast<int>(sizeof(void*) * 8);

bool Check(bool ok, const char* name, const std::string& detail = "") {
    std::printf("%s %d-bit %s%s%s\n", ok ? "PASS" : "FAIL", kBits, name, ok || detail.empty() ? "" : ": ",
                ok ? "" : detail.c_str());
    std::fflush(stdout);
    failures += ok ? 0 : 1;
    return ok;
}

void CheckWorkers() {
    Check(platform::ProcessorCount() >= 1, "ProcessorCount", std::to_string(platform::ProcessorCount()));
    // Each half waits for the other (bounded), which only completes when both really run at once.
    std::atomic<int> arrived{0};
    bool together[2] = {false, false};
    DWORD_PTR masks[2] = {0, 0};
    bool ran = platform::RunWorkerPair([&](int worker) {
        arrived.fetch_add(1);
        for (int i = 0; i < 5000 && arrived.load() < 2; ++i) Sleep(1);
        together[worker] = arrived.load() == 2;
        // Setting the mask again answers the one the thread already had.
        masks[worker] = SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR{1} << worker);
    });
    Check(ran && together[0] && together[1], "RunWorkerPair runs both halves at once");
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    if (info.dwNumberOfProcessors >= 2)
        Check(masks[0] == 1 && masks[1] == 2, "RunWorkerPair binds worker k to processor k",
              std::to_string(masks[0]) + " " + std::to_string(masks[1]));
    bool rethrown = false;
    try {
        (void)platform::RunWorkerPair([](int worker) {
            if (worker == 1) throw std::runtime_error("worker failed");
        });
    } catch (const std::runtime_error&) {
        rethrown = true;
    }
    Check(rethrown, "a worker's exception reaches the caller");
}

void CheckRegistry() {
    const auto machine = platform::RegistryHive::Machine;
    const std::string key = "Software\\RQ43 platform check";
    platform::RegistryDeleteKey(machine, key);
    uint8_t data[4] = {0};
    uint32_t size = sizeof data;
    Check(!platform::RegistryKeyExists(machine, key) &&
              platform::RegistryQueryValue(machine, key, "x", nullptr, data, &size) ==
                  platform::RegistryResult::NotFound,
          "absent key");
    Check(platform::RegistryCreateKey(machine, key) && platform::RegistryKeyExists(machine, key),
          "RegistryCreateKey");
    const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Check(platform::RegistrySetValue(machine, key, "long", REG_BINARY, eight, sizeof eight),
          "RegistrySetValue");
    uint32_t type = 0;
    size = sizeof data;
    Check(platform::RegistryQueryValue(machine, key, "long", &type, data, &size) ==
                  platform::RegistryResult::MoreData &&
              size == 8,
          "too small a buffer reports the needed size", std::to_string(size));
    uint8_t all[8] = {0};
    size = sizeof all;
    Check(platform::RegistryQueryValue(machine, key, "long", &type, all, &size) ==
                  platform::RegistryResult::Ok &&
              type == REG_BINARY && size == 8 && all[7] == 8,
          "RegistryQueryValue");
    Check(platform::RegistryDeleteKey(machine, key) && !platform::RegistryKeyExists(machine, key),
          "RegistryDeleteKey");
}

// The store's rules hold on the real registry as on the Linux file.
void CheckSettingsStore() {
    const auto machine = platform::RegistryHive::Machine, user = platform::RegistryHive::User;
    platform::RegistryDeleteKey(machine, rq43::kSettingsKey);
    platform::RegistryDeleteKey(user, rq43::kSettingsKey);
    rq43::CodecSettings defaults = rq43::LoadCodecSettings();
    Check(defaults.fastSearch == 0 && defaults.subBlockMotion == 0 && defaults.autoKeyInsert == 1 &&
              defaults.strongCompression == 1 && defaults.prefilterStrength == 0 &&
              defaults.prefilterIterations == 1,
          "settings default without the key");
    rq43::SaveSetting(rq43::kPrefilterStrengthName, 300);
    Check(rq43::LoadCodecSettings().prefilterStrength == 44, "a stored 300 loads as its low byte");
    const uint8_t one[2] = {'1', 0};
    platform::RegistrySetValue(machine, rq43::kSettingsKey, rq43::kFastSearchName, REG_SZ, one, sizeof one);
    Check(rq43::LoadSetting(rq43::kFastSearchName, 0) == 49, "a short string is taken byte for byte");
    const uint8_t eight[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    platform::RegistrySetValue(machine, rq43::kSettingsKey, rq43::kAutoKeyInsertName, REG_BINARY, eight, 8);
    Check(rq43::LoadSetting(rq43::kAutoKeyInsertName, 1) == 1, "data longer than 4 bytes gives the default");

    // A user's own value overrides the machine's, and saving for the machine brings it in line, so
    // what was saved is what loads.
    const uint8_t five[4] = {5, 0, 0, 0};
    platform::RegistryCreateKey(user, rq43::kSettingsKey);
    platform::RegistrySetValue(user, rq43::kSettingsKey, rq43::kPrefilterStrengthName, REG_DWORD, five, 4);
    Check(rq43::LoadCodecSettings().prefilterStrength == 5, "HKEY_CURRENT_USER overrides HKEY_LOCAL_MACHINE");
    uint8_t machines[4] = {0};
    uint32_t size = sizeof machines;
    Check(rq43::SaveSetting(rq43::kPrefilterStrengthName, 9) &&
              rq43::LoadSetting(rq43::kPrefilterStrengthName, 0) == 9 &&
              platform::RegistryQueryValue(machine, rq43::kSettingsKey, rq43::kPrefilterStrengthName, nullptr,
                                           machines, &size) == platform::RegistryResult::Ok &&
              machines[0] == 9,
          "saving for the machine brings the user's value in line");
    platform::RegistryDeleteKey(machine, rq43::kSettingsKey);
    platform::RegistryDeleteKey(user, rq43::kSettingsKey);
}

void CheckDebugChannel() {
    std::vector<std::string> lines;
    platform::SetDebugOutputSink([&](const char* text) { lines.emplace_back(text); });
    platform::OutputDebugText("one\n");
    platform::OutputDebugText("two\n");
    platform::SetDebugOutputSink(nullptr);
    Check(lines.size() == 2 && lines[0] == "one\n" && lines[1] == "two\n",
          "debug lines reach the sink in order");
}

}  // namespace

int main() {
    CheckWorkers();
    CheckRegistry();
    CheckSettingsStore();
    CheckDebugChannel();
    return failures ? 1 : 0;
}
