// An output written beside its destination and renamed into place only when complete, so a failed or
// interrupted run leaves whatever was there before (and removes only what it made itself).
#pragma once

#include <string>

namespace rq43::cli {

class ReplacementFile {
  public:
    // Throws Failure when `path` exists but is no regular file, or may not be written; creates the
    // temporary file in the same folder (so the rename cannot cross file systems).
    explicit ReplacementFile(const std::string& path);
    ~ReplacementFile();  // removes the temporary file unless committed
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    const std::string& TemporaryPath() const { return temporary; }
    const std::string& Path() const { return path; }
    // Moves the finished file into place, with the permissions of the file it replaces.
    void Commit();

  private:
    std::string path;
    std::string temporary;
    bool replacing = false;
    unsigned mode = 0;
    bool committed = false;
};

}  // namespace rq43::cli
