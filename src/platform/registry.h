// The machine-wide key-value store (a stand-in for the registry under HKEY_LOCAL_MACHINE on systems that
// have none). Keys are backslash-separated paths, values are typed byte strings. On Linux the store is a
// small text file, rewritten atomically; an unreadable or malformed file reads as empty.
#pragma once

#include <cstdint>
#include <string>

namespace rq43::platform {

constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;

enum class RegistryResult { Ok, NotFound, MoreData, Failed };

// Where the store lives: RQ43_REGISTRY_FILE if set, else $XDG_CONFIG_HOME/rq43/registry.txt, else
// ~/.config/rq43/registry.txt. SetRegistryFile overrides all of these for the rest of the process
// (an empty path restores the default lookup).
std::string RegistryFile();
void SetRegistryFile(const std::string& path);

bool RegistryKeyExists(const std::string& key);
bool RegistryCreateKey(const std::string& key);

// Like RegQueryValueExA: on entry *size is the buffer size; on Ok *size is the data length and data is
// filled; MoreData leaves data untouched and reports the needed length in *size. `type` may be null.
RegistryResult RegistryQueryValue(const std::string& key, const std::string& name, uint32_t* type, uint8_t* data,
                                  uint32_t* size);

// Stores the value (creating nothing: the key must exist). Returns false if the store cannot be written.
bool RegistrySetValue(const std::string& key, const std::string& name, uint32_t type, const uint8_t* data,
                      uint32_t size);

bool RegistryDeleteKey(const std::string& key);

}  // namespace rq43::platform
