// The settings store is the registry itself, under HKEY_LOCAL_MACHINE. A 32-bit module on a 64-bit
// system sees the 32-bit view, as every 32-bit program does.
#include "platform/registry.h"

#include "platform/win32/win32_api.h"

namespace rq43::platform {
namespace {

// An open key, closed at scope end.
class OpenKey {
public:
    explicit OpenKey(const std::string& path) {
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) key = nullptr;
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

std::string RegistryFile() { return "HKEY_LOCAL_MACHINE"; }
void SetRegistryFile(const std::string&) {}

bool RegistryKeyExists(const std::string& key) { return static_cast<bool>(OpenKey(key)); }

bool RegistryCreateKey(const std::string& key) {
    HKEY created = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &created) != ERROR_SUCCESS) return false;
    RegCloseKey(created);
    return true;
}

RegistryResult RegistryQueryValue(const std::string& key, const std::string& name, uint32_t* type, uint8_t* data,
                                  uint32_t* size) {
    OpenKey open(key);
    if (!open) return RegistryResult::NotFound;
    DWORD storedType = 0;
    DWORD length = size ? *size : 0;
    LONG status = RegQueryValueExA(open.Get(), name.c_str(), nullptr, &storedType, size ? data : nullptr,
                                   size ? &length : nullptr);
    if (status == ERROR_FILE_NOT_FOUND) return RegistryResult::NotFound;
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return RegistryResult::Failed;
    if (type) *type = storedType;
    if (size) *size = length;
    return status == ERROR_MORE_DATA ? RegistryResult::MoreData : RegistryResult::Ok;
}

bool RegistrySetValue(const std::string& key, const std::string& name, uint32_t type, const uint8_t* data,
                      uint32_t size) {
    OpenKey open(key);
    if (!open) return false;
    return RegSetValueExA(open.Get(), name.c_str(), 0, type, data, size) == ERROR_SUCCESS;
}

bool RegistryDeleteKey(const std::string& key) { return RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()) == ERROR_SUCCESS; }

}  // namespace rq43::platform
