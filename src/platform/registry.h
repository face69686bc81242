// The key-value store behind the settings: the registry on Windows, with its machine-wide hive
// (HKEY_LOCAL_MACHINE) and the user's own (HKEY_CURRENT_USER). Keys are backslash-separated paths, values
// are typed byte strings. On Linux the store is a small text file that belongs to the user, and both hives
// are that one file; it is rewritten atomically, under a lock, and never rewritten when it cannot be read.
#pragma once

#include <cstdint>
#include <string>

namespace rq43::platform {

constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;

enum class RegistryResult { Ok, NotFound, MoreData, Failed };

enum class RegistryHive { Machine, User };

// Where the store lives: RQ43_REGISTRY_FILE if set, else $XDG_CONFIG_HOME/rq43/registry.txt, else
// ~/.config/rq43/registry.txt. SetRegistryFile overrides all of these for the rest of the process
// (an empty path restores the default lookup). On Windows, the name of the hive; setting does nothing.
std::string RegistryFile(RegistryHive hive = RegistryHive::User);
void SetRegistryFile(const std::string& path);
// Gives one hive a file of its own, so the Linux store can play a machine that differs from its user.
void SetRegistryFile(RegistryHive hive, const std::string& path);

bool RegistryKeyExists(RegistryHive hive, const std::string& key);
bool RegistryCreateKey(RegistryHive hive, const std::string& key);

// Like RegQueryValueExA: on entry *size is the buffer size; on Ok *size is the data length and data is
// filled; MoreData leaves data untouched and reports the needed length in *size. `type` may be null.
// Failed: the store exists but cannot be read.
RegistryResult RegistryQueryValue(RegistryHive hive, const std::string& key, const std::string& name,
                                  uint32_t* type, uint8_t* data, uint32_t* size);

// Stores the value (creating nothing: the key must exist). Returns false if the store cannot be written.
bool RegistrySetValue(RegistryHive hive, const std::string& key, const std::string& name, uint32_t type,
                      const uint8_t* data, uint32_t size);

bool RegistryDeleteKey(RegistryHive hive, const std::string& key);

// Why this thread's last failed operation on the store failed, for a message ("" when none did).
std::string RegistryLastError();

// While one lives, no other thread or process changes the store, so a read-modify-write of several
// values is not interleaved with another. Nests. Locked() is false, with RegistryLastError() saying why,
// when the store stayed busy too long; writes are then refused. The Windows registry keeps every
// value whole by itself, so there it holds nothing.
class RegistryLock {
  public:
    RegistryLock();
    ~RegistryLock();
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;
    bool Locked() const { return locked; }

  private:
    bool locked = false;
};

}  // namespace rq43::platform
