// The component-wise median that predicts a macroblock's vector from its neighbours' vectors.
#pragma once

#include <algorithm>
#include <cstdint>

namespace rq43 {

inline int32_t Median(int32_t a, int32_t b, int32_t c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

}  // namespace rq43
