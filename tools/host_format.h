// The program's view of the host formats: the codec's packed output as the 4:2:0 planes the program
// compares and writes. Every buffer the program makes holds its top row first.
#pragma once

#include <cstdint>

#include "host/host_format.h"
#include "picture420.h"

namespace rq43::cli {

// The codec's 4:2:0 planes from its packed 4:2:2 output, whose chroma rows come in identical pairs.
void UyvyToPicture420(const uint8_t* uyvy, int width, int height, Picture420& picture);
// The same into planes of width x height and (width + 1) / 2 x (height + 1) / 2 bytes, rows unpadded.
void UyvyToPlanes(const uint8_t* uyvy, int width, int height, uint8_t* y, uint8_t* u, uint8_t* v);

}  // namespace rq43::cli
