#include "frame_md5.h"

#include <new>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/md5.h>
}

namespace rq43::cli {

std::string FrameMd5(const Picture420& picture) {
    AVMD5* md5 = av_md5_alloc();
    if (!md5) throw std::bad_alloc();
    av_md5_init(md5);
    for (const auto* plane : {&picture.y, &picture.u, &picture.v})
        av_md5_update(md5, plane->data(), plane->size());
    uint8_t digest[16];
    av_md5_final(md5, digest);
    av_free(md5);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : digest) {
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    return text;
}

}  // namespace rq43::cli
