#include "driver/instance_table.h"

#include <algorithm>
#include <mutex>

namespace rq43 {
namespace {

void DestroyCodec(CodecBase* codec) {
    if (codec) codec->Destroy(1);
}

}  // namespace

std::shared_ptr<CodecBase> InstanceTable::Find(HDRVR driverHandle) const {
    std::lock_guard guard(lock);
    for (const InstanceEntry& entry : entries)
        if (entry.driverHandle == driverHandle) return entry.codec;
    return nullptr;
}

bool InstanceTable::Contains(HDRVR driverHandle) const {
    std::lock_guard guard(lock);
    return std::any_of(entries.begin(), entries.end(),
                       [&](const InstanceEntry& entry) { return entry.driverHandle == driverHandle; });
}

void InstanceTable::Add(HDRVR driverHandle, CodecBase* codec) {
    InstanceEntry entry{driverHandle, 1, std::shared_ptr<CodecBase>(codec, DestroyCodec)};
    std::lock_guard guard(lock);
    entries.push_back(std::move(entry));
}

void InstanceTable::Close(HDRVR driverHandle) {
    std::shared_ptr<CodecBase> closed;  // released after the lock, so a last owner destroys it unlocked
    std::lock_guard guard(lock);
    auto entry = std::find_if(entries.begin(), entries.end(),
                              [&](const InstanceEntry& e) { return e.driverHandle == driverHandle; });
    if (entry == entries.end() || --entry->openCount != 0) return;
    closed = std::move(entry->codec);
    entries.erase(entry);
}

size_t InstanceTable::Count() const {
    std::lock_guard guard(lock);
    return entries.size();
}

InstanceEntry InstanceTable::At(size_t index) const {
    std::lock_guard guard(lock);
    return entries.at(index);
}

InstanceTable& Instances() {
    static InstanceTable table;
    return table;
}

}  // namespace rq43
