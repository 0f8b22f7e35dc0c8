#pragma once
// ClassRegistry: the archivable classes by name. Each entry has its superclass (so kind-of questions and
// the class chains written into archives follow the hierarchy), its sequential-archive version and the
// decoder that rebuilds an instance from a Coder. Process-wide; registration normally happens at start-up
// through a static KV_REGISTER_CLASS, lookups are thread-safe.

#include "platform/foundation/Archivable.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace platform {

class ClassRegistry {
public:
    using Decoder = std::function<ObjectRef(Coder&)>; // null result = nil

    struct Entry {
        QString name;
        QString superclassName; // empty for a root class
        qint64 version = 0;     // sequential archives write it in the class chain
        Decoder decoder;        // may be empty for abstract classes
        bool supportsCopying = false; // instances can be copied (drag tables need it of their elements)
    };

    static ClassRegistry& shared();

    // Registers (or replaces) a class. Returns true so it can initialise a static.
    bool registerClass(Entry entry);
    std::optional<Entry> entry(const QString& name) const;
    bool contains(const QString& name) const;

    // The class and its ancestors, most derived first: {"TEVSensorHistory", "NSObject"}. A class the
    // registry does not know gives just {name}.
    QStringList classChain(const QString& name) const;
    // True when `name` is `ancestor` or one of its subclasses.
    bool isKindOf(const QString& name, const QString& ancestor) const;

private:
    ClassRegistry();
    struct Private;
    Private* d;
};

} // namespace platform

#define KV_REGISTER_CLASS_CONCAT2(a, b) a##b
#define KV_REGISTER_CLASS_CONCAT(a, b) KV_REGISTER_CLASS_CONCAT2(a, b)
// Registers a class when its translation unit is loaded. Static libraries drop unreferenced units, so the
// owning library references a class's registration function from its own init path when that matters.
#define KV_REGISTER_CLASS(...)                                                                              \
    static const bool KV_REGISTER_CLASS_CONCAT(kvClassRegistered_, __LINE__) =                              \
        ::platform::ClassRegistry::shared().registerClass(::platform::ClassRegistry::Entry{__VA_ARGS__})
