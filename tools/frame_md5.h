// The conformance checksum of a decoded picture: MD5 of its Y, U and V planes back to back.
#pragma once

#include <string>

#include "picture420.h"

namespace rq43::cli {

std::string FrameMd5(const Picture420& picture);

}  // namespace rq43::cli
