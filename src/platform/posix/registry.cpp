// The store is a text file in the style of an exported registry:
//   [Software\Obrant\RQ43Video Codec]
//   "Fast Search"=hex(4):01,00,00,00
// Every operation reads the whole file (it is tiny). Every change rewrites it through a temporary file and
// a rename, so readers never see it half written and need no lock, while writers hold a lock on its folder
// (a lock file would be left behind in folders that are meant to go away). A file that cannot be read, or
// holds lines this code does not understand, is never rewritten: that would lose what it holds.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace rq43::platform {
namespace {

struct StoredValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};
using KeyValues = std::map<std::string, StoredValue>;
using Store = std::map<std::string, KeyValues>;

std::mutex pathLock;  // guards the three paths below
std::string overridePath;
std::string hivePaths[2];

// Held by RegistryLock: the folder lock is taken by the outermost one of this process.
std::recursive_mutex writerLock;
int lockDepth = 0;
int lockFolder = -1;
bool lockHeld = false;

thread_local std::string lastError;

bool Fail(const std::string& why) {
    lastError = why;
    return false;
}

std::string Reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

std::string DefaultPath() {
    if (const char* file = std::getenv("RQ43_REGISTRY_FILE"); file && *file) return file;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/rq43/registry.txt";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.config/rq43/registry.txt";
    return "rq43-registry.txt";
}

std::string PathOf(RegistryHive hive) {
    std::lock_guard guard(pathLock);
    const std::string& own = hivePaths[hive == RegistryHive::User];
    return !own.empty() ? own : !overridePath.empty() ? overridePath : DefaultPath();
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
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

// Keeps display names: the map key is canonical, the first stored spelling is kept beside it. `unreadable`
// and `damaged` say why the file must not be rewritten; reads go on with what could be parsed.
struct LoadedStore {
    Store values;
    std::map<std::string, std::string> keyNames;
    std::map<std::string, std::map<std::string, std::string>> valueNames;
    std::string unreadable, damaged;
};

// An absent file is an empty store.
bool ReadWhole(const std::string& path, std::string* text, std::string* why) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        *why = Reason(path + " cannot be read", errno);
        return false;
    }
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) text->append(buffer, static_cast<size_t>(got));
        if (got == 0) break;
        if (got < 0 && errno != EINTR) {
            *why = Reason(path + " cannot be read", errno);
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

LoadedStore Load(const std::string& path) {
    LoadedStore loaded;
    std::string text;
    if (!ReadWhole(path, &text, &loaded.unreadable)) return loaded;
    std::istringstream in(text);
    std::string line, currentKey;
    bool inKey = false;
    for (int number = 1; std::getline(in, line); ++number) {
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
        size_t pos = 0;
        std::string name;
        StoredValue value;
        if (!inKey || !ParseQuoted(line, &pos, &name) || pos >= line.size() || line[pos] != '=' ||
            !ParseValue(line.substr(pos + 1), &value)) {
            if (loaded.damaged.empty())
                loaded.damaged =
                    path + ", line " + std::to_string(number) + ": not a key or value this program reads";
            continue;
        }
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

std::string Serialise(const LoadedStore& store) {
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
    return out.str();
}

bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// Replaces the file whole. A store reached through a symbolic link is replaced where the link points,
// and keeps its permissions.
bool Save(const std::string& path, const LoadedStore& store) {
    if (!MakeParentDirectories(path)) return Fail(Reason("cannot create the folder of " + path, errno));
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    struct stat old {};
    mode_t mode = ::stat(target.c_str(), &old) == 0 ? old.st_mode & 07777 : 0644;
    std::string temporary = target + ".tmp." + std::to_string(getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return Fail(Reason("cannot write in the folder of " + target, errno));
    bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, Serialise(store)) && ::fsync(fd) == 0;
    int error = written ? 0 : errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.c_str(), target.c_str()) == 0) return true;
    if (written) error = errno;
    ::unlink(temporary.c_str());
    return Fail(Reason("cannot write " + target, error));
}

// Load, change, save, under the writers' lock. `change` answers whether there is anything to save, or
// fails with lastError set.
enum class Changed { Nothing, Something, Failed };

template <typename Change>
bool Rewrite(RegistryHive hive, Change change) {
    lastError.clear();
    RegistryLock lock;
    if (!lock.Locked()) return false;
    std::string path = PathOf(hive);
    LoadedStore store = Load(path);
    if (!store.unreadable.empty()) return Fail(store.unreadable + "; it is left as it is");
    if (!store.damaged.empty()) return Fail(store.damaged + "; the file is left as it is");
    switch (change(store)) {
        case Changed::Nothing:
            return true;
        case Changed::Failed:
            return false;
        case Changed::Something:
            break;
    }
    return Save(path, store);
}

// The folder's lock, waited for at most ten seconds. A folder that cannot be locked at all (a file
// system without locks) is written unlocked: each rewrite is still whole.
bool LockFolderOf(const std::string& path) {
    std::string folder = FolderOf(path);
    MakeParentDirectories(path);
    lockFolder = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lockFolder < 0) return true;
    for (int waited = 0;; waited += 20) {
        if (::flock(lockFolder, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || waited >= 10000) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    bool busy = errno == EWOULDBLOCK;
    ::close(lockFolder);
    lockFolder = -1;
    return busy ? Fail("the settings store in " + folder + " stayed locked by another program for 10 s")
                : true;
}

}  // namespace

std::string RegistryFile(RegistryHive hive) {
    return PathOf(hive);
}

void SetRegistryFile(const std::string& path) {
    std::lock_guard guard(pathLock);
    overridePath = path;
    hivePaths[0].clear();
    hivePaths[1].clear();
}

void SetRegistryFile(RegistryHive hive, const std::string& path) {
    std::lock_guard guard(pathLock);
    hivePaths[hive == RegistryHive::User] = path;
}

std::string RegistryLastError() {
    return lastError;
}

RegistryLock::RegistryLock() {
    writerLock.lock();
    if (lockDepth++ == 0) lockHeld = LockFolderOf(PathOf(RegistryHive::User));
    locked = lockHeld;
}

RegistryLock::~RegistryLock() {
    if (--lockDepth == 0 && lockFolder >= 0) {
        ::close(lockFolder);  // releases the lock
        lockFolder = -1;
    }
    writerLock.unlock();
}

bool RegistryKeyExists(RegistryHive hive, const std::string& key) {
    return Load(PathOf(hive)).values.count(Canonical(key)) != 0;
}

bool RegistryCreateKey(RegistryHive hive, const std::string& key) {
    return Rewrite(hive, [&](LoadedStore& store) {
        std::string canonical = Canonical(key);
        if (store.values.count(canonical)) return Changed::Nothing;
        store.values[canonical];
        store.keyNames.emplace(canonical, key);
        return Changed::Something;
    });
}

bool RegistryDeleteKey(RegistryHive hive, const std::string& key) {
    return Rewrite(hive, [&](LoadedStore& store) {
        if (store.values.erase(Canonical(key))) return Changed::Something;
        Fail(key + ": no such key");
        return Changed::Failed;
    });
}

RegistryResult RegistryQueryValue(RegistryHive hive, const std::string& key, const std::string& name,
                                  uint32_t* type, uint8_t* data, uint32_t* size) {
    LoadedStore store = Load(PathOf(hive));
    if (!store.unreadable.empty()) {
        lastError = store.unreadable;
        return RegistryResult::Failed;
    }
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

bool RegistrySetValue(RegistryHive hive, const std::string& key, const std::string& name, uint32_t type,
                      const uint8_t* data, uint32_t size) {
    return Rewrite(hive, [&](LoadedStore& store) {
        std::string canonicalKey = Canonical(key);
        auto keyIt = store.values.find(canonicalKey);
        if (keyIt == store.values.end()) {
            Fail(key + ": no such key");
            return Changed::Failed;
        }
        std::string canonicalName = Canonical(name);
        StoredValue& value = keyIt->second[canonicalName];
        value.type = type;
        value.data.assign(data, data + size);
        store.valueNames[canonicalKey].emplace(canonicalName, name);
        return Changed::Something;
    });
}

}  // namespace rq43::platform
