// A test clip made from nothing: a panning textured background with a ball moving across it, so that
// motion search, key frames and texture coding all have work to do.
#pragma once

#include <memory>

#include "video_input.h"

namespace rq43::cli {

std::unique_ptr<VideoSource> MakeSyntheticClip(int width, int height, int frames, uint32_t rate);

}  // namespace rq43::cli
