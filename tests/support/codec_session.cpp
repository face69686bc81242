#include "support/codec_session.h"

#include <cstring>

#include "support/checksum.h"

namespace rq43::testing {

namespace {
template <typename Visit>
void ForEachRow(const YuvFrame& frame, Visit visit) {
    for (uint32_t r = 0; r < frame.height; ++r) visit(frame.y + ptrdiff_t(r) * frame.stride, frame.width);
    for (uint32_t r = 0; r < frame.height / 2; ++r) {
        visit(frame.u + ptrdiff_t(r) * frame.stride, frame.width / 2);
        visit(frame.v + ptrdiff_t(r) * frame.stride, frame.width / 2);
    }
}
}  // namespace

bool SamePicture(const YuvFrame& a, const YuvFrame& b) {
    if (a.width != b.width || a.height != b.height) return false;
    std::vector<const uint8_t*> rows;
    std::vector<uint32_t> lengths;
    ForEachRow(a, [&](const uint8_t* row, uint32_t length) {
        rows.push_back(row);
        lengths.push_back(length);
    });
    size_t i = 0;
    bool same = true;
    ForEachRow(b, [&](const uint8_t* row, uint32_t length) {
        same = same && std::memcmp(rows[i], row, lengths[i]) == 0 && length == lengths[i];
        ++i;
    });
    return same;
}

uint64_t PictureChecksum(const YuvFrame& frame) {
    uint64_t hash = 0xcbf29ce484222325ull;
    ForEachRow(frame, [&](const uint8_t* row, uint32_t length) { hash = Fnv1a(row, length, hash); });
    return hash;
}

}  // namespace rq43::testing
