#include "motion/motion_field.h"

#include <algorithm>

namespace rq43 {

void AllocateMotionField(MotionField& field, uint32_t width, uint32_t height, int32_t border) {
    uint32_t count = (width / 16) * (height / 16);
    if (width == field.width && height == field.height && border == field.border &&
        field.current.size() == count) {
        return;
    }
    field.width = width;
    field.height = height;
    field.border = border;
    field.stride = static_cast<int32_t>(width) + 2 * border;
    field.mbCols = width / 16;
    field.mbRows = height / 16;
    field.current.assign(count, MotionEntry{});
    field.previous.assign(count, MotionEntry{});
    field.subVectors.assign(size_t{4} * count, MotionEntry{});
}

void CarryMotionVectors(MotionField& field) {
    field.previous = field.current;
    if (field.subBlockMotion == 0) return;
    for (size_t i = 0; i < field.current.size(); ++i) {
        if (!IsSubBlockMode(field.current[i])) continue;
        const MotionEntry* quad = &field.subVectors[4 * i];
        int32_t sumX = quad[0].dx + quad[1].dx + quad[2].dx + quad[3].dx;
        int32_t sumY = quad[0].dy + quad[1].dy + quad[2].dy + quad[3].dy;
        field.previous[i].dx = static_cast<int16_t>(sumX / 4);
        field.previous[i].dy = static_cast<int16_t>(sumY / 4);
    }
}

void ClearMotionVectors(MotionField& field) {
    std::fill(field.current.begin(), field.current.end(), MotionEntry{});
    std::fill(field.previous.begin(), field.previous.end(), MotionEntry{});
}

}  // namespace rq43
