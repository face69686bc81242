#include "platform/processor.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace rq43::platform {
namespace {
std::atomic<uint32_t> processorOverride{0};
std::atomic<uint64_t (*)()> counterOverride{nullptr};
}  // namespace

uint32_t ProcessorCount() {
    if (uint32_t forced = processorOverride.load()) return forced;
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1u;
}

void OverrideProcessorCount(uint32_t count) { processorOverride.store(count); }

uint64_t ReadTimeStampCounter() {
    if (auto source = counterOverride.load()) return source();
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

void OverrideTimeStampCounter(uint64_t (*source)()) { counterOverride.store(source); }

}  // namespace rq43::platform
