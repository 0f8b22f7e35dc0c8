#pragma once
// Builds an I/O Registry from the "Registry" section of a simulated computer's computer.plist. Stateless.
//
// The section is an array of entry dictionaries, each a child of the root; an entry dictionary has:
//   "Class"      array of non-empty strings, required: the class chain, most derived first
//   "Name"       string, optional: the entry's name (default: its most derived class)
//   "Path"       string, optional: "<Plane>:/<path>", e.g. "IODeviceTree:/rom"; unique in the registry
//   "Properties" dictionary, optional: property values as they are (booleans stay distinct from numbers)
//   "Children"   array of entry dictionaries, optional: its children in the service plane, in order
//   "Drift"      dictionary, optional: property name → {"PerSecond": number, "Minimum", "Maximum": numbers,
//                optional}. That property (a number or an array of numbers) moves by PerSecond for every
//                second of the shared clock since the registry was built, held within the bounds; integers
//                stay integers (rounded to nearest). A simulated battery discharges this way.
// Any other key, a wrong type, a bad or taken path fails the whole load.

#include "platform/registry/IORegistry.h"

#include <QVariantList>

namespace platform {

class FixtureIORegistry {
public:
    struct LoadResult {
        std::shared_ptr<const IORegistry> registry; // null on failure
        QString error;                              // names the key path, e.g. "Registry[0].Children[1].Class"
    };

    static LoadResult load(const QVariantList& section);
    // Adds the section's entries below the root of `builder` (after whatever it holds); false with `error`
    // set on the first bad entry, the builder then being unusable.
    static bool addEntries(const QVariantList& section, IORegistry::Builder& builder, QString& error);
};

} // namespace platform
