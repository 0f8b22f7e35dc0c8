#pragma once
// TypedStream: the constants and type-string grammar of the typedstream format ("streamtyped", little
// endian), shared by SequentialArchiver and SequentialUnarchiver. Stateless; any thread.
//
// Integers are written compactly: one signed byte for -110..127, else a tag byte and 2, 4 or 8
// little-endian bytes. Tag bytes (0x80..0x91 as the first byte) mark longer integers, float literals,
// new and nil entries and object ends. A reference to the n-th entry of a table is the integer n - 110,
// so the first entries take the single bytes 0x92, 0x93, ...

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <vector>

namespace platform::typedstream {

constexpr quint8 kStreamerVersion = 4;
constexpr const char kSignature[] = "streamtyped";
constexpr qint64 kSystemVersion = 1000;

enum Tag : quint8 {
    kTagInt16 = 0x81,
    kTagInt32 = 0x82,
    kTagReal = 0x83, // a float or double literal follows (its width is the type's)
    kTagNew = 0x84,  // a new shared string, object, class or C string follows
    kTagNil = 0x85,
    kTagEndOfObject = 0x86,
    kTagInt64 = 0x87,
};
constexpr int kTagFirst = -128; // 0x80..0x91 never start a one-byte integer
constexpr int kTagLast = -111;
constexpr qint64 kReferenceBase = -110;

// One item of a type string: a scalar code, an array "[<count><element>]" or a struct "{name=fields}".
struct TypeNode {
    char code = 0;            // the scalar code, '[' or '{'
    quint64 count = 0;        // arrays: element count
    std::vector<TypeNode> children; // arrays: one element type; structs: the fields
};

// Codes of single values: integers, reals, objects, classes, strings and selectors.
bool isIntegerCode(char code);
bool isSignedIntegerCode(char code);
int integerWidth(char code); // bytes of the C type: c,C,B 1; s,S 2; i,I,l,L 4; q,Q 8
bool isRealCode(char code);

// The top-level items of `types`, nullopt when it is malformed, nests deeper than `maxDepth` or names a
// code this format does not carry. Array counts are not bounded here.
std::optional<std::vector<TypeNode>> parseTypes(QByteArrayView types, int maxDepth);

} // namespace platform::typedstream
