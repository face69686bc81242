#include "driver/instance_table.h"

namespace rq43 {

InstanceEntry* InstanceTable::Find(HDRVR driverHandle) {
    for (InstanceEntry& entry : entries)
        if (entry.driverHandle == driverHandle) return &entry;
    return nullptr;
}

void InstanceTable::Reserve() {
    if (entries.size() == entries.capacity()) entries.reserve(entries.size() + 1);
}

void InstanceTable::Append(const InstanceEntry& entry) { entries.push_back(entry); }

void InstanceTable::Remove(InstanceEntry* entry) { entries.erase(entries.begin() + (entry - entries.data())); }

InstanceTable& Instances() {
    static InstanceTable table;
    return table;
}

}  // namespace rq43
