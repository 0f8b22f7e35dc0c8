#pragma once
// KeyedCoderTypes: the type strings of sequential calls as the keyed coders see them, and the plist
// layout they share: generated keys "$0", "$1", ... and the old-style array of scalars. Stateless.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace platform {

class KeyedCoderTypes {
public:
    struct Item {
        char code = 0;     // c C s S i I l L q Q f d @ *
        quint64 count = 0; // elements of an array "[<n><code>]"; 0 for a single value
        bool isArray = false;
    };

    // Null when the string holds a code the keyed coders do not carry (structs, pointers, ...).
    static std::optional<QList<Item>> parse(const char* types);
    // Bytes of one scalar value (the C++ types of Coder.h); 0 for '@' and '*'.
    static int scalarSize(char code);
    static bool isInteger(char code);
    // Key of the n-th sequential value of an object.
    static QString sequentialKey(quint64 index) { return QStringLiteral("$%1").arg(index); }

    static inline const QString oldStyleArrayClass = QStringLiteral("_NSKeyedCoderOldStyleArray");
};

} // namespace platform
