#pragma once
// XML and binary property lists, read here straight into values (a read costs about the size of its
// values, not libplist's tree besides them), written with libplist (XML) and here (binary, in linear time),
// carrying the values of Values.h. Every property-list type round-trips: booleans, integers (read back as Signed,
// except values of 2^63 and more, which read back as Unsigned: the format keeps 64 bits, not signedness),
// reals, strings, data, dates (UTC; millisecond precision in binary, whole seconds in XML, whose date
// element has no fraction), arrays, dictionaries. Keyed archives also need UIDs, which appear as
// platform::PlistUid.

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

// A property-list UID (the object references of keyed archives).
struct PlistUid {
    quint64 value = 0;
    bool operator==(const PlistUid&) const = default;
};

enum class PlistFormat { Xml, Binary };

struct PlistReadResult {
    QVariant value;          // invalid on failure
    PlistFormat format = PlistFormat::Xml;
    QString error;           // set on failure
};

// Bounds applied while reading, so hostile input cannot make us allocate without limit.
struct PlistLimits {
    qsizetype maxInputBytes = 256 * 1024 * 1024;
    int maxDepth = 512;
    // Values once shared references of a binary list are expanded (libplist copies them). A binary list
    // is also held to about two values and 32 bytes of text and data per byte of its own size.
    qsizetype maxValues = 4 * 1024 * 1024;
    // XML: a dictionary that gives a key twice is refused ("Registry[1].IOClass: key given twice") rather than
    // read with the later value.
    bool refuseDuplicateKeys = false;
};

// Detects the format (binary by its "bplist00" magic, else XML). Reals are read and written in the C
// locale whatever the process's locale. Refused: a binary dictionary key holding U+0000, and an integer
// that is no whole number from -2^63 to 2^64-1 (in XML also an empty one, or one with a leading zero), so
// that no stored number reads as another.
PlistReadResult readPropertyList(const QByteArray& bytes, const PlistLimits& limits = {});
// Null QByteArray when the value holds something a property list cannot (an object, an invalid value,
// a dictionary key that is not a string, U+0000 in a string or key). In XML, characters XML 1.0 cannot
// hold (control characters other than tab, line feed and carriage return, U+FFFE, U+FFFF, lone
// surrogates) become U+FFFD; in binary, lone surrogates do.
QByteArray writePropertyList(const QVariant& value, PlistFormat format);
// No string or key of `value` holds a character that the XML form would replace.
bool xmlHoldsEveryCharacter(const QVariant& value);
// Old-style property-list text for descriptions: arrays in parentheses, dictionaries in braces, data in
// angle brackets, strings quoted unless plain, nesting indented by four spaces.
QString describePropertyList(const QVariant& value);

} // namespace platform

Q_DECLARE_METATYPE(platform::PlistUid)
