// Points the settings store at a fresh file for the lifetime of a test.
#pragma once

#include <string>

namespace rq43::testing {

class ScratchRegistry {
  public:
    ScratchRegistry();
    ~ScratchRegistry();
    const std::string& Path() const { return path; }

  private:
    std::string path;
};

}  // namespace rq43::testing
