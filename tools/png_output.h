// PNG pictures for people to look at: decoded frames and the demo's side-by-side comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture420.h"

namespace rq43::cli {

// `rgb` holds width × height pixels, 3 bytes each in R, G, B order, top row first.
void WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

// Studio-range BT.601 to RGB, as the codec's own output conversion does.
std::vector<uint8_t> Picture420ToRgb(const Picture420& picture);

// Blue-first 24-bit rows (the codec's RGB output) to R, G, B order.
std::vector<uint8_t> BgrToRgb(const uint8_t* bgr, size_t pixels);

}  // namespace rq43::cli
