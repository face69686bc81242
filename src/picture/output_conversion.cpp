#include "picture/output_conversion.h"

#include "picture/colour_tables.h"

namespace rq43 {
namespace {

struct PlaneRows {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
};

PlaneRows RowsOf(const YuvFrame& frame, uint32_t r) {
    const ptrdiff_t luma = static_cast<ptrdiff_t>(r) * frame.stride;
    const ptrdiff_t chroma = static_cast<ptrdiff_t>(r / 2) * frame.stride;
    return {frame.y + luma, frame.u + chroma, frame.v + chroma};
}

// Packs each pixel pair as four bytes; `order` gives the byte positions of Y0, U, Y1, V.
struct PackedOrder {
    uint32_t y0, u, y1, v;
};

void ConvertYuvToPacked(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch, PackedOrder order) {
    if (!frame.allocated) return;
    for (uint32_t r = 0; r < frame.height; ++r) {
        const PlaneRows in = RowsOf(frame, r);
        uint8_t* out = destination + static_cast<ptrdiff_t>(r) * pitch;
        for (uint32_t k = 0; k < frame.width / 2; ++k, out += 4) {
            out[order.y0] = in.y[2 * k];
            out[order.u] = in.u[k];
            out[order.y1] = in.y[2 * k + 1];
            out[order.v] = in.v[k];
        }
    }
}

}  // namespace

void ConvertYuvToUyvy(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch) {
    ConvertYuvToPacked(destination, frame, pitch, {1, 0, 3, 2});
}

void ConvertYuvToYuy2(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch) {
    ConvertYuvToPacked(destination, frame, pitch, {0, 1, 2, 3});
}

void ConvertYuvToRgb(const YuvFrame& frame, uint8_t* destination, int32_t bytesPerPixel, ptrdiff_t pitch) {
    if (!frame.allocated || (bytesPerPixel != 3 && bytesPerPixel != 4)) return;
    const ColourTables& t = GetColourTables();
    const ClampTable& clamp = GetClampTable();
    constexpr int32_t shift = ColourTables::kShift;
    const auto step = static_cast<size_t>(bytesPerPixel);
    for (uint32_t r = 0; r < frame.height; ++r) {
        const PlaneRows in = RowsOf(frame, r);
        uint8_t* out = destination + static_cast<ptrdiff_t>(r) * pitch;
        for (uint32_t x = 0; x < frame.width; ++x, out += step) {
            const int32_t luma = t.ty[in.y[x]];
            const uint8_t u = in.u[x / 2];
            const uint8_t v = in.v[x / 2];
            // Blue reaches -277..534, beyond the clamp table's reach; its lookup saturates the index.
            out[0] = clamp[(luma + t.tbU[u]) >> shift];
            out[1] = clamp[(luma + t.tgU[u] + t.tgV[v]) >> shift];
            out[2] = clamp[(luma + t.trV[v]) >> shift];
        }
    }
}

}  // namespace rq43
