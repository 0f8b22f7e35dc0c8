#pragma once
// The user's idle time as the "IOHIDSystem" registry entry publishes it ("HIDIdleTime": unsigned
// nanoseconds, as a number or 8 bytes of native-order data). The entry is looked up until one is found
// and then cached for the life of the process; the time itself is read anew on every call. Any thread.

#include "sensors/TEVIORegistryEntry.h"

#include <QtGlobal>

#include <memory>

// The cached entry, else a look-up in `registry` (the current registry when null); null unless exactly one
// "IOHIDSystem" entry exists and carries "HIDIdleTime" as a number or data.
std::shared_ptr<TEVIORegistryEntry> hidSystemRegistryEntry(TEVIORegistryEntry::Registry registry = nullptr);
// Nanoseconds since the last user input; 0 when unknown (callers then skip their idle logic).
quint64 currentHIDIdleTime(TEVIORegistryEntry::Registry registry = nullptr);
// Empties the cache, so that a test can look the entry up in a registry of its own.
void resetHIDSystemRegistryEntryCacheForTesting();
