// Processor facts: how many there are and the time-stamp counter.
#pragma once

#include <cstdint>

namespace rq43::platform {

// Processors the system reports (at least 1).
uint32_t ProcessorCount();

// Makes ProcessorCount report `count`; 0 restores the real value. For hosts and tests that want the
// one-thread or two-thread paths on any machine.
void OverrideProcessorCount(uint32_t count);

uint64_t ReadTimeStampCounter();

// Replaces the counter with `source` (nullptr restores the processor's counter).
void OverrideTimeStampCounter(uint64_t (*source)());

}  // namespace rq43::platform
