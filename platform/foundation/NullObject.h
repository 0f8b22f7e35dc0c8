#pragma once
// NullObject: the one "NSNull" instance, the placeholder for nil inside collections of keyed archives.
// Immutable and shared by every thread.

#include "platform/foundation/Archivable.h"

namespace platform {

class NullObject final : public Archivable {
public:
    static ObjectRef shared();

    QString className() const override;
    void encodeWithCoder(Coder& coder) const override;

private:
    NullObject() = default;
};

} // namespace platform
