#include "support/scratch_registry.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>

#include "platform/registry.h"

namespace rq43::testing {

ScratchRegistry::ScratchRegistry() {
    static std::atomic<int> serial{0};
    path = (std::filesystem::temp_directory_path() /
            ("rq43-test-registry-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".txt"))
               .string();
    std::remove(path.c_str());
    platform::SetRegistryFile(path);
}

ScratchRegistry::~ScratchRegistry() {
    std::remove(path.c_str());
    platform::SetRegistryFile("");
}

}  // namespace rq43::testing
