#include "psnr.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace rq43::cli {
namespace {

uint64_t PlaneError(const uint8_t* a, int aStride, const uint8_t* b, int bStride, int w, int h) {
    uint64_t sum = 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* ra = a + static_cast<ptrdiff_t>(y) * aStride;
        const uint8_t* rb = b + static_cast<ptrdiff_t>(y) * bStride;
        for (int x = 0; x < w; ++x) {
            int d = ra[x] - rb[x];
            sum += static_cast<uint64_t>(d * d);
        }
    }
    return sum;
}

}  // namespace

double PsnrFromError(uint64_t squaredError, uint64_t samples) {
    if (samples == 0 || squaredError == 0) return 100.0;
    double mse = static_cast<double>(squaredError) / static_cast<double>(samples);
    return std::min(100.0, 10.0 * std::log10(255.0 * 255.0 / mse));
}

void PsnrMeter::Add(const Picture420& source, const Picture420& decoded) {
    int w = std::min(source.width, decoded.width), h = std::min(source.height, decoded.height);
    int cw = std::min(source.ChromaWidth(), decoded.ChromaWidth());
    int ch = std::min(source.ChromaHeight(), decoded.ChromaHeight());
    squaredError[0] += PlaneError(source.y.data(), source.width, decoded.y.data(), decoded.width, w, h);
    squaredError[1] +=
        PlaneError(source.u.data(), source.ChromaWidth(), decoded.u.data(), decoded.ChromaWidth(), cw, ch);
    squaredError[2] +=
        PlaneError(source.v.data(), source.ChromaWidth(), decoded.v.data(), decoded.ChromaWidth(), cw, ch);
    samples[0] += static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
    samples[1] += static_cast<uint64_t>(cw) * static_cast<uint64_t>(ch);
    samples[2] += static_cast<uint64_t>(cw) * static_cast<uint64_t>(ch);
}

double PsnrMeter::Psnr(int plane) const {
    return PsnrFromError(squaredError[plane], samples[plane]);
}

double PsnrMeter::Overall() const {
    return PsnrFromError(squaredError[0] + squaredError[1] + squaredError[2],
                         samples[0] + samples[1] + samples[2]);
}

}  // namespace rq43::cli
