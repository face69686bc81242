// The forward transform of a whole frame, computed once before the rate-control attempts: every block's
// intra coefficients (source pixels - 128) and, in delta frames, its inter coefficients (motion-compensated
// difference - 128), side by side in the coder's coefficient arrays.
#pragma once

#include "picture/difference_frame.h"
#include "picture/yuv_frame.h"

namespace rq43 {

struct ResidualCoder;

// Sizes the coder for the source frame and borrows the three frames for the rest of the frame's coding.
// difference and reference are null in key frames. Afterwards bit 0 of every block flag is 1 in key frames
// and 0 in delta frames. With coder.useTwoThreads the block rows are split over two workers.
// Returns false (nothing transformed) for a source frame whose geometry the coder cannot hold or a
// difference frame of another size.
bool TransformFrame(const YuvFrame& source, ResidualCoder& coder, const DifferenceFrame* difference,
                    const YuvFrame* reference);

// Forgets the intra decisions of the previous rate-control attempt: clears bit 0 of every block flag.
void ClearIntraFlags(ResidualCoder& coder);

}  // namespace rq43
