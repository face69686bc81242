#include "picture/output_conversion.h"

#include "picture/colour_tables.h"
#include "picture/picture_kernels.h"

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

void PackRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out,
             PackedOrder order) {
    for (uint32_t k = 0; k < pairs; ++k, out += 4) {
        out[order.y0] = y[2 * k];
        out[order.u] = u[k];
        out[order.y1] = y[2 * k + 1];
        out[order.v] = v[k];
    }
}

void ConvertYuvToPacked(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch,
                        dsp::PackRowFn packRow) {
    if (!frame.allocated) return;
    for (uint32_t r = 0; r < frame.height; ++r) {
        const PlaneRows in = RowsOf(frame, r);
        packRow(in.y, in.u, in.v, frame.width / 2, destination + static_cast<ptrdiff_t>(r) * pitch);
    }
}

}  // namespace

void PackUyvyRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out) {
    PackRow(y, u, v, pairs, out, {1, 0, 3, 2});
}

void PackYuy2Row(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out) {
    PackRow(y, u, v, pairs, out, {0, 1, 2, 3});
}

void ConvertYuvRowToRgb(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width,
                        int32_t bytesPerPixel, const dsp::RgbOutputTables& t, uint8_t* out) {
    const ClampTable& clamp = GetClampTable();
    constexpr int32_t shift = ColourTables::kShift;
    const auto step = static_cast<size_t>(bytesPerPixel);
    for (uint32_t x = 0; x < width; ++x, out += step) {
        const int32_t luma = t.ty[y[x]];
        const uint8_t cu = u[x / 2];
        const uint8_t cv = v[x / 2];
        // Blue reaches -277..534, beyond the clamp table's reach; its lookup saturates the index.
        out[0] = clamp[(luma + t.tbU[cu]) >> shift];
        out[1] = clamp[(luma + t.tgU[cu] + t.tgV[cv]) >> shift];
        out[2] = clamp[(luma + t.trV[cv]) >> shift];
    }
}

dsp::RgbOutputTables RgbOutputTablesOf(const ColourTables& t) {
    return {t.ty.data(), t.trV.data(), t.tgV.data(), t.tgU.data(), t.tbU.data()};
}

void ConvertYuvToUyvy(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch) {
    ConvertYuvToPacked(destination, frame, pitch, ActivePictureKernels().packUyvyRow);
}

void ConvertYuvToYuy2(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch) {
    ConvertYuvToPacked(destination, frame, pitch, ActivePictureKernels().packYuy2Row);
}

void ConvertYuvToRgb(const YuvFrame& frame, uint8_t* destination, int32_t bytesPerPixel, ptrdiff_t pitch) {
    if (!frame.allocated || (bytesPerPixel != 3 && bytesPerPixel != 4)) return;
    const dsp::RgbOutputTables tables = RgbOutputTablesOf(GetColourTables());
    const dsp::YuvToRgbRowFn convertRow = ActivePictureKernels().yuvToRgbRow;
    for (uint32_t r = 0; r < frame.height; ++r) {
        const PlaneRows in = RowsOf(frame, r);
        convertRow(in.y, in.u, in.v, frame.width, bytesPerPixel, tables,
                   destination + static_cast<ptrdiff_t>(r) * pitch);
    }
}

}  // namespace rq43
