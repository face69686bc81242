#include "replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli_errors.h"

namespace rq43::cli {

ReplacementFile::ReplacementFile(const std::string& path) : path(path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) throw FileFailure(path, "not a regular file; the output must be one");
        // Renaming over a file needs only the folder's permission; respect the file's own.
        if (access(path.c_str(), W_OK) != 0) throw FileFailure(path, std::strerror(errno));
        replacing = true;
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        throw FileFailure(path, std::strerror(errno));
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + name + ".rq43-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = mkstemp(buffer.data());
    if (fd < 0)
        throw FileFailure(path, std::string("cannot create a file beside it: ") + std::strerror(errno));
    close(fd);
    temporary = buffer.data();
    if (!replacing) {
        // A new file gets the permissions a plain create would give it, not mkstemp's 0600.
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
}

ReplacementFile::~ReplacementFile() {
    if (!committed) unlink(temporary.c_str());
}

void ReplacementFile::Commit() {
    if (chmod(temporary.c_str(), static_cast<mode_t>(mode)) != 0 ||
        rename(temporary.c_str(), path.c_str()) != 0)
        throw FileFailure(path, std::strerror(errno));
    committed = true;
}

}  // namespace rq43::cli
