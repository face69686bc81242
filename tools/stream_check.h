// Opening an AVI file that must hold an RQ43 stream, with the error a user can act on.
#pragma once

#include <string>

#include "avi.h"

namespace rq43::cli {

// Throws Failure naming the file when its video is not RQ43.
void RequireRq43Stream(const AviReader& reader, const std::string& path);
std::string FourCCText(uint32_t code);

}  // namespace rq43::cli
