#include "frame_md5.h"

#include <new>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

namespace rq43::cli {

Md5Sum::Md5Sum() : md5(av_md5_alloc()) {
    if (!md5) throw std::bad_alloc();
    av_md5_init(md5);
}

Md5Sum::~Md5Sum() {
    av_free(md5);
}

void Md5Sum::Add(const uint8_t* data, size_t size) {
    av_md5_update(md5, data, size);
}

std::string Md5Sum::Finish() {
    uint8_t digest[16];
    av_md5_final(md5, digest);
    av_md5_init(md5);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : digest) {
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    return text;
}

std::string FrameMd5(const Picture420& picture) {
    Md5Sum sum;
    for (const auto* plane : {&picture.y, &picture.u, &picture.v}) sum.Add(plane->data(), plane->size());
    return sum.Finish();
}

}  // namespace rq43::cli
