#include "picture420.h"

#include <algorithm>

namespace rq43::cli {

void Picture420::Allocate(int w, int h) {
    width = w;
    height = h;
    y.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 16);
    size_t chroma = static_cast<size_t>(ChromaWidth()) * static_cast<size_t>(ChromaHeight());
    u.assign(chroma, 128);
    v.assign(chroma, 128);
}

bool Picture420::Holds(int w, int h) const {
    const size_t chroma = static_cast<size_t>((w + 1) / 2) * static_cast<size_t>((h + 1) / 2);
    return width == w && height == h && y.size() == static_cast<size_t>(w) * static_cast<size_t>(h) &&
           u.size() == chroma && v.size() == chroma;
}

void Picture420::Clear() {
    std::fill(y.begin(), y.end(), uint8_t{16});
    std::fill(u.begin(), u.end(), uint8_t{128});
    std::fill(v.begin(), v.end(), uint8_t{128});
}

}  // namespace rq43::cli
