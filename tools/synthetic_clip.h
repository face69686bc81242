// A test clip made from nothing: the moving clip the tests use (a textured picture panned by sub-pixel
// steps), so that motion search, key frames and texture coding all have work to do.
#pragma once

#include <memory>

#include "video_input.h"

namespace rq43::cli {

std::unique_ptr<VideoSource> MakeSyntheticClip(int width, int height, int frames, uint32_t rate);

}  // namespace rq43::cli
