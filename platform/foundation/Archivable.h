#pragma once
// Archivable: base of every object that the keyed and sequential archivers can carry. Objects are shared
// (std::shared_ptr) and travel inside QVariant as platform::ObjectRef.

#include <QMetaType>
#include <QString>

#include <memory>

namespace platform {

class Coder;

class Archivable {
public:
    virtual ~Archivable() = default;
    // The class name written into archives; also the key of the decoder in ClassRegistry.
    virtual QString className() const = 0;
    virtual void encodeWithCoder(Coder& coder) const = 0;
};

using ObjectRef = std::shared_ptr<Archivable>;

// The shared pointer, cast to T when the object is one (dynamic_cast), else null.
template <typename T>
std::shared_ptr<T> objectAs(const ObjectRef& object) { return std::dynamic_pointer_cast<T>(object); }

} // namespace platform

Q_DECLARE_METATYPE(platform::ObjectRef)
