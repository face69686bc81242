// The process-wide list of open driver handles and their codec instances, in insertion order.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/codec_base.h"

namespace rq43 {

struct InstanceEntry {
    HDRVR driverHandle;
    int32_t openCount;
    CodecBase* codec;  // may be none when creation failed
};

class InstanceTable {
public:
    // The first entry for the handle, or null.
    InstanceEntry* Find(HDRVR driverHandle);
    // Makes room for one more entry first, so that a later Append cannot fail. Throws std::bad_alloc.
    void Reserve();
    void Append(const InstanceEntry& entry);
    void Remove(InstanceEntry* entry);
    size_t Count() const { return entries.size(); }
    const InstanceEntry& At(size_t index) const { return entries[index]; }

private:
    std::vector<InstanceEntry> entries;
};

// The one table of the process.
InstanceTable& Instances();

}  // namespace rq43
