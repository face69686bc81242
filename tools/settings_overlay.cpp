#include "settings_overlay.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cli_errors.h"
#include "platform/registry.h"

namespace rq43::cli {

ScopedSettingsOverlay::ScopedSettingsOverlay(const CodecSettings& settings) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/rq43-run-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw Failure("cannot create a temporary directory in " + pattern);
    directory = pattern;
    platform::SetRegistryFile(directory + "/registry.txt");
    SaveCodecSettings(settings);
}

ScopedSettingsOverlay::~ScopedSettingsOverlay() {
    std::string file = platform::RegistryFile();
    platform::SetRegistryFile("");
    std::remove(file.c_str());
    rmdir(directory.c_str());
}

}  // namespace rq43::cli
