#include "picture_limits.h"

#include <numeric>

#include "cli_errors.h"

namespace rq43::cli {

void CheckPictureSize(int64_t width, int64_t height, const std::string& name) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (width <= 0 || height <= 0) throw FileFailure(name, "impossible picture size " + size);
    const int64_t paddedWidth = (width + 15) / 16 * 16, paddedHeight = (height + 15) / 16 * 16;
    if (paddedWidth > kMaxPictureSide || paddedHeight > kMaxPictureSide)
        throw FileFailure(
            name, "the picture (" + size + ") is larger than an AVI file can describe (at most " +
                      std::to_string(kMaxPictureSide) + " pixels a side after padding to multiples of 16)");
    if (paddedWidth * paddedHeight > kMaxCodecPixels)
        throw FileFailure(name, "the picture (" + size + ") is larger than the codec can take (at most " +
                                    std::to_string(kMaxCodecPixels) +
                                    " pixels after padding to multiples of 16)");
}

void CheckFrameRate(uint64_t num, uint64_t den, const std::string& name) {
    const uint64_t divisor = num && den ? std::gcd(num, den) : 1;
    if (num == 0 || den == 0 || num / divisor > INT32_MAX || den / divisor > INT32_MAX)
        throw FileFailure(name, "impossible frame rate " + std::to_string(num) + ":" + std::to_string(den) +
                                    " (both terms must be 1.." + std::to_string(INT32_MAX) + ")");
}

}  // namespace rq43::cli
