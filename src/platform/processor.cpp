#include "platform/processor.h"

#include <atomic>

#include "platform/native.h"

namespace rq43::platform {
namespace {
std::atomic<uint32_t> processorOverride{0};
std::atomic<uint64_t (*)()> counterOverride{nullptr};
}  // namespace

uint32_t ProcessorCount() {
    if (uint32_t forced = processorOverride.load()) return forced;
    uint32_t reported = native::ProcessorCount();
    return reported > 0 ? reported : 1u;
}

void OverrideProcessorCount(uint32_t count) {
    processorOverride.store(count);
}

uint64_t ReadTimeStampCounter() {
    if (auto source = counterOverride.load()) return source();
    return native::TimeStampCounter();
}

void OverrideTimeStampCounter(uint64_t (*source)()) {
    counterOverride.store(source);
}

}  // namespace rq43::platform
