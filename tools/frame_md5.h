// The conformance checksums of decoded pictures: MD5 of a picture's Y, U and V planes back to back,
// and one MD5 over many pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "picture420.h"

struct AVMD5;

namespace rq43::cli {

class Md5Sum {
  public:
    Md5Sum();
    ~Md5Sum();
    Md5Sum(const Md5Sum&) = delete;
    Md5Sum& operator=(const Md5Sum&) = delete;
    void Add(const uint8_t* data, size_t size);
    // 32 lower-case hex digits; the sum starts again afterwards.
    std::string Finish();

  private:
    AVMD5* md5;
};

std::string FrameMd5(const Picture420& picture);

}  // namespace rq43::cli
