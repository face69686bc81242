// The settings store is the registry itself, under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER. A 32-bit
// module on a 64-bit system sees the 32-bit view, as every 32-bit program does.
#include "platform/registry.h"

#include "platform/win32/win32_api.h"

namespace rq43::platform {
namespace {

thread_local LONG lastStatus = ERROR_SUCCESS;

HKEY Root(RegistryHive hive) {
    return hive == RegistryHive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

bool Succeeded(LONG status) {
    lastStatus = status;
    return status == ERROR_SUCCESS;
}

// An open key, closed at scope end.
class OpenKey {
  public:
    OpenKey(RegistryHive hive, const std::string& path) {
        if (!Succeeded(RegOpenKeyA(Root(hive), path.c_str(), &key))) key = nullptr;
    }
    ~OpenKey() {
        if (key) RegCloseKey(key);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    explicit operator bool() const { return key != nullptr; }
    HKEY Get() const { return key; }

  private:
    HKEY key = nullptr;
};

}  // namespace

std::string RegistryFile(RegistryHive hive) {
    return hive == RegistryHive::User ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}
void SetRegistryFile(const std::string&) {}
void SetRegistryFile(RegistryHive, const std::string&) {}

std::string RegistryLastError() {
    if (lastStatus == ERROR_SUCCESS) return "";
    char text[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(lastStatus), 0, text, sizeof text, nullptr);
    while (length && (text[length - 1] == '\n' || text[length - 1] == '\r')) text[--length] = 0;
    return length ? text : "registry error " + std::to_string(lastStatus);
}

RegistryLock::RegistryLock() : locked(true) {}
RegistryLock::~RegistryLock() = default;

bool RegistryKeyExists(RegistryHive hive, const std::string& key) {
    return static_cast<bool>(OpenKey(hive, key));
}

bool RegistryCreateKey(RegistryHive hive, const std::string& key) {
    HKEY created = nullptr;
    if (!Succeeded(RegCreateKeyA(Root(hive), key.c_str(), &created))) return false;
    RegCloseKey(created);
    return true;
}

RegistryResult RegistryQueryValue(RegistryHive hive, const std::string& key, const std::string& name,
                                  uint32_t* type, uint8_t* data, uint32_t* size) {
    OpenKey open(hive, key);
    if (!open) return RegistryResult::NotFound;
    DWORD storedType = 0;
    DWORD length = size ? *size : 0;
    LONG status = RegQueryValueExA(open.Get(), name.c_str(), nullptr, &storedType, size ? data : nullptr,
                                   size ? &length : nullptr);
    lastStatus = status;
    if (status == ERROR_FILE_NOT_FOUND) return RegistryResult::NotFound;
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return RegistryResult::Failed;
    if (type) *type = storedType;
    if (size) *size = length;
    return status == ERROR_MORE_DATA ? RegistryResult::MoreData : RegistryResult::Ok;
}

bool RegistrySetValue(RegistryHive hive, const std::string& key, const std::string& name, uint32_t type,
                      const uint8_t* data, uint32_t size) {
    OpenKey open(hive, key);
    return open && Succeeded(RegSetValueExA(open.Get(), name.c_str(), 0, type, data, size));
}

bool RegistryDeleteKey(RegistryHive hive, const std::string& key) {
    return Succeeded(RegDeleteKeyA(Root(hive), key.c_str()));
}

}  // namespace rq43::platform
