// The process-wide list of open driver handles and their codec instances, in insertion order.
// Hosts open and close instances on one thread while others work on theirs: every change and look-up
// holds the table's lock, and a look-up hands out shared ownership, so an instance closed while another
// thread uses it is destroyed when that use ends. The instances' own work runs outside the lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "driver/codec_base.h"
#include "platform/spin_lock.h"

namespace rq43 {

struct InstanceEntry {
    HDRVR driverHandle;
    int32_t openCount;
    std::shared_ptr<CodecBase> codec;  // may be none when creation failed
};

class InstanceTable {
  public:
    // The codec of the first entry for the handle, kept alive while the caller holds it; none if the
    // handle has no entry or its entry has no codec.
    std::shared_ptr<CodecBase> Find(HDRVR driverHandle) const;
    bool Contains(HDRVR driverHandle) const;
    // Takes ownership of `codec` (which may be null): the table destroys it with Destroy(1) once closed
    // and unused. Throws std::bad_alloc, having destroyed the codec.
    void Add(HDRVR driverHandle, CodecBase* codec);
    // Drops one opening of the handle's first entry and removes the entry when none is left.
    void Close(HDRVR driverHandle);
    size_t Count() const;
    InstanceEntry At(size_t index) const;

  private:
    mutable platform::SpinLock lock;
    std::vector<InstanceEntry> entries;
};

// The one table of the process.
InstanceTable& Instances();

}  // namespace rq43
