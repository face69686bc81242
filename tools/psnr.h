// Peak signal-to-noise ratio of decoded pictures against their sources, per plane and overall.
#pragma once

#include <cstdint>

#include "picture420.h"

namespace rq43::cli {

class PsnrMeter {
  public:
    // Compares the source's visible area with the top-left of `decoded` (which may be larger: padding).
    void Add(const Picture420& source, const Picture420& decoded);
    bool Empty() const { return samples[0] == 0; }
    double Y() const { return Psnr(0); }
    double U() const { return Psnr(1); }
    double V() const { return Psnr(2); }
    double Overall() const;

  private:
    double Psnr(int plane) const;
    uint64_t squaredError[3] = {};
    uint64_t samples[3] = {};
};

// 10·log10(255² / mean squared error); 100 for identical pictures.
double PsnrFromError(uint64_t squaredError, uint64_t samples);

}  // namespace rq43::cli
