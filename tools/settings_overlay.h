// Settings for one run: the codec loads its options from the settings store at every compression
// begin, so a run's own options are handed over in a private store that exists only around that
// begin. The user's stored settings are never written.
#pragma once

#include <string>

#include "config/settings_store.h"

namespace rq43::cli {

class ScopedSettingsOverlay {
  public:
    explicit ScopedSettingsOverlay(const CodecSettings& settings);
    ~ScopedSettingsOverlay();
    ScopedSettingsOverlay(const ScopedSettingsOverlay&) = delete;
    ScopedSettingsOverlay& operator=(const ScopedSettingsOverlay&) = delete;

  private:
    std::string directory;
};

}  // namespace rq43::cli
