// The store is a text file in the style of an exported registry:
//   [Software\Obrant\RQ43Video Codec]
//   "Fast Search"=hex(4):01,00,00,00
// Every operation reads the whole file (it is tiny) and every change rewrites it through a temporary file
// and a rename, so a crash never leaves it half written.
#include "platform/registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

namespace rq43::platform {
namespace {

struct StoredValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};
using KeyValues = std::map<std::string, StoredValue>;
using Store = std::map<std::string, KeyValues>;

std::mutex storeLock;
std::string overridePath;

std::string DefaultPath() {
    if (const char* file = std::getenv("RQ43_REGISTRY_FILE"); file && *file) return file;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/rq43/registry.txt";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/rq43/registry.txt";
    return "rq43-registry.txt";
}

// Keys compare without regard to case, as the registry's do.
std::string Canonical(const std::string& key) {
    std::string result = key;
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

bool ParseQuoted(const std::string& line, size_t* pos, std::string* out) {
    if (*pos >= line.size() || line[*pos] != '"') return false;
    ++*pos;
    out->clear();
    while (*pos < line.size()) {
        char c = line[(*pos)++];
        if (c == '"') return true;
        if (c == '\\') {
            if (*pos >= line.size()) return false;
            c = line[(*pos)++];
        }
        out->push_back(c);
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// hex(T):b0,b1,...  Anything else makes the line unreadable; unreadable lines are skipped.
bool ParseValue(const std::string& text, StoredValue* value) {
    unsigned type = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "hex(%u):%n", &type, &consumed) != 1 || consumed == 0) return false;
    value->type = type;
    value->data.clear();
    size_t i = static_cast<size_t>(consumed);
    while (i < text.size()) {
        if (i + 1 >= text.size()) return false;
        int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        value->data.push_back(static_cast<uint8_t>(hi * 16 + lo));
        i += 2;
        if (i < text.size()) {
            if (text[i] != ',') return false;
            ++i;
        }
    }
    return value->data.size() <= 65536;
}

// Keeps display names: the map key is canonical, the first stored spelling is kept beside it.
struct LoadedStore {
    Store values;
    std::map<std::string, std::string> keyNames;
    std::map<std::string, std::map<std::string, std::string>> valueNames;
};

LoadedStore Load(const std::string& path) {
    LoadedStore loaded;
    std::ifstream in(path);
    if (!in) return loaded;
    std::string line, currentKey;
    bool inKey = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            std::string name = line.substr(1, line.size() - 2);
            currentKey = Canonical(name);
            loaded.values[currentKey];
            loaded.keyNames.emplace(currentKey, name);
            inKey = true;
            continue;
        }
        if (!inKey) continue;
        size_t pos = 0;
        std::string name;
        if (!ParseQuoted(line, &pos, &name) || pos >= line.size() || line[pos] != '=') continue;
        StoredValue value;
        if (!ParseValue(line.substr(pos + 1), &value)) continue;
        std::string canonicalName = Canonical(name);
        loaded.values[currentKey][canonicalName] = std::move(value);
        loaded.valueNames[currentKey].emplace(canonicalName, name);
    }
    return loaded;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

bool MakeParentDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool Save(const std::string& path, const LoadedStore& store) {
    if (!MakeParentDirectories(path)) return false;
    std::ostringstream out;
    out << "# RQ43 settings store. Values: hex(type):bytes, little-endian; type 4 is a 32-bit number.\n";
    for (const auto& [key, values] : store.values) {
        out << '[' << store.keyNames.at(key) << "]\n";
        for (const auto& [name, value] : values) {
            out << Quote(store.valueNames.at(key).at(name)) << "=hex(" << value.type << "):";
            for (size_t i = 0; i < value.data.size(); ++i) {
                char byte[4];
                std::snprintf(byte, sizeof byte, "%02x", value.data[i]);
                out << (i ? "," : "") << byte;
            }
            out << '\n';
        }
    }
    std::string temporary = path + ".tmp." + std::to_string(getpid());
    {
        std::ofstream file(temporary, std::ios::trunc);
        if (!file) return false;
        file << out.str();
        file.flush();
        if (!file) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string RegistryFile() {
    std::lock_guard guard(storeLock);
    return overridePath.empty() ? DefaultPath() : overridePath;
}

void SetRegistryFile(const std::string& path) {
    std::lock_guard guard(storeLock);
    overridePath = path;
}

bool RegistryKeyExists(const std::string& key) {
    std::string path = RegistryFile();
    std::lock_guard guard(storeLock);
    return Load(path).values.count(Canonical(key)) != 0;
}

bool RegistryCreateKey(const std::string& key) {
    std::string path = RegistryFile();
    std::lock_guard guard(storeLock);
    LoadedStore store = Load(path);
    std::string canonical = Canonical(key);
    if (store.values.count(canonical)) return true;
    store.values[canonical];
    store.keyNames.emplace(canonical, key);
    return Save(path, store);
}

bool RegistryDeleteKey(const std::string& key) {
    std::string path = RegistryFile();
    std::lock_guard guard(storeLock);
    LoadedStore store = Load(path);
    if (store.values.erase(Canonical(key)) == 0) return false;
    return Save(path, store);
}

RegistryResult RegistryQueryValue(const std::string& key, const std::string& name, uint32_t* type, uint8_t* data,
                                  uint32_t* size) {
    std::string path = RegistryFile();
    std::lock_guard guard(storeLock);
    LoadedStore store = Load(path);
    auto keyIt = store.values.find(Canonical(key));
    if (keyIt == store.values.end()) return RegistryResult::NotFound;
    auto valueIt = keyIt->second.find(Canonical(name));
    if (valueIt == keyIt->second.end()) return RegistryResult::NotFound;
    const StoredValue& value = valueIt->second;
    if (type) *type = value.type;
    uint32_t length = static_cast<uint32_t>(value.data.size());
    if (size == nullptr) return RegistryResult::Ok;
    if (data != nullptr && length > *size) {
        *size = length;
        return RegistryResult::MoreData;
    }
    if (data != nullptr && length) std::memcpy(data, value.data.data(), length);
    *size = length;
    return RegistryResult::Ok;
}

bool RegistrySetValue(const std::string& key, const std::string& name, uint32_t type, const uint8_t* data,
                      uint32_t size) {
    std::string path = RegistryFile();
    std::lock_guard guard(storeLock);
    LoadedStore store = Load(path);
    std::string canonicalKey = Canonical(key);
    auto keyIt = store.values.find(canonicalKey);
    if (keyIt == store.values.end()) return false;
    std::string canonicalName = Canonical(name);
    StoredValue& value = keyIt->second[canonicalName];
    value.type = type;
    value.data.assign(data, data + size);
    store.valueNames[canonicalKey].emplace(canonicalName, name);
    return Save(path, store);
}

}  // namespace rq43::platform
