#include "platform/foundation/PropertyList.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
#include <QtEndian>

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <memory>
#include <vector>

namespace platform {
namespace {

// Seconds between 1970-01-01 and 2001-01-01, the epoch of property-list dates.
constexpr qint64 kReferenceDateMSecs = 978307200000;
// Dates further than this from 2001 (about 3 million years) are no dates QDateTime handles well.
constexpr double kMaxDateSeconds = 1e14;

const QByteArray kBinaryMagic("bplist00");

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// libplist reads and writes <real> with strtod and printf, which follow the locale: under a decimal
// comma 0.5 would read as 0. Property lists are always C; uselocale keeps the switch to this thread.
class CLocaleScope {
public:
    CLocaleScope()
    {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        if (c)
            previous_ = uselocale(c);
    }
    ~CLocaleScope()
    {
        if (previous_)
            uselocale(previous_);
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_ = locale_t(nullptr);
};

// libplist copies a shared reference for every place it occurs. What a binary list may expand to is
// bounded by its size: written without shared containers a list holds at most one value per byte, and
// shared strings (dictionary keys above all) repeat a few dozen bytes per reference byte.
constexpr quint64 kExpandedValuesPerByte = 2;
constexpr quint64 kExpandedValuesFloor = 4096;
constexpr quint64 kExpandedPayloadPerByte = 32;
constexpr quint64 kExpandedPayloadFloor = 1024 * 1024;

// --- Binary structure check ------------------------------------------------------------------------
// libplist 2.2 expands shared references into copies (so a small file can describe an exponential tree)
// and recurses without bound; this walk of the object table rejects such input before it gets there.
class BinaryPlistScanner {
public:
    BinaryPlistScanner(const QByteArray& bytes, const PlistLimits& limits)
        : data_(reinterpret_cast<const uchar*>(bytes.constData()))
        , size_(quint64(bytes.size()))
        , limits_(limits)
    {
    }

    QString check()
    {
        constexpr quint64 trailerSize = 32;
        if (size_ < quint64(kBinaryMagic.size()) + 1 + trailerSize)
            return QStringLiteral("binary property list is truncated");
        const quint64 trailer = size_ - trailerSize;
        offsetSize_ = data_[trailer + 6];
        refSize_ = data_[trailer + 7];
        const quint64 count = qFromBigEndian<quint64>(data_ + trailer + 8);
        const quint64 top = qFromBigEndian<quint64>(data_ + trailer + 16);
        tableOffset_ = qFromBigEndian<quint64>(data_ + trailer + 24);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            return QStringLiteral("binary property list has a bad trailer");
        if (tableOffset_ < 9 || tableOffset_ > trailer || count == 0 || count > (trailer - tableOffset_) / offsetSize_)
            return QStringLiteral("binary property list has a bad offset table");
        if (top >= count)
            return QStringLiteral("binary property list has a bad top object");
        top_ = top;
        offsets_.resize(count);
        for (quint64 i = 0; i < count; ++i) {
            offsets_[i] = readBigEndian(tableOffset_ + i * offsetSize_, offsetSize_);
            if (offsets_[i] < 8 || offsets_[i] >= tableOffset_)
                return QStringLiteral("binary property list has an object offset out of range");
        }
        nodes_.assign(count, Node{});
        maxValues_ = std::min(quint64(limits_.maxValues), kExpandedValuesFloor + kExpandedValuesPerByte * size_);
        maxPayload_ = kExpandedPayloadFloor + kExpandedPayloadPerByte * size_;
        if (!visit(top, 0))
            return error_;
        return {};
    }

private:
    enum class State : quint8 { Unvisited, Visiting, Done };
    struct Node {
        State state = State::Unvisited;
        bool keyChecked = false;
        bool keyHoldsNul = false;
        int height = 0;       // container levels at and below this object
        quint64 values = 0;   // values once shared references are expanded, saturated past the limit
        quint64 payload = 0;  // bytes of strings and data once expanded, saturated past the limit
    };
    struct Extent {
        quint64 refs = 0;     // object references that follow the header
        quint64 refStart = 0;
        quint64 payload = 0;  // bytes of a string or data
        int type = 0;
        bool container = false;
    };

    quint64 readBigEndian(quint64 at, int width) const
    {
        quint64 v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | data_[at + quint64(i)];
        return v;
    }

    bool fail(const QString& reason)
    {
        if (error_.isEmpty())
            error_ = reason;
        return false;
    }

    // Reads an object's header and checks that its payload lies before the offset table.
    bool extent(quint64 index, Extent* out)
    {
        quint64 at = offsets_[index];
        const uchar marker = data_[at++];
        const int type = marker >> 4;
        const int info = marker & 0x0f;
        quint64 length = quint64(info);
        const bool counted = type == 0x4 || type == 0x5 || type == 0x6 || type == 0xA || type == 0xC || type == 0xD;
        if (counted && info == 0x0f) {
            if (at >= tableOffset_)
                return fail(QStringLiteral("binary property list object runs past its end"));
            const uchar lengthMarker = data_[at++];
            const int width = 1 << (lengthMarker & 0x0f);
            if ((lengthMarker >> 4) != 0x1 || width > 8 || tableOffset_ - at < quint64(width))
                return fail(QStringLiteral("binary property list has a bad object length"));
            length = readBigEndian(at, width);
            at += quint64(width);
        }
        quint64 unit = 1;
        switch (type) {
        case 0x0:
            if (info != 0x0 && info != 0x8 && info != 0x9 && info != 0xf)
                return fail(QStringLiteral("binary property list has an unknown object"));
            length = 0;
            break;
        case 0x1:
            if (info > 4)
                return fail(QStringLiteral("binary property list has a bad integer"));
            length = quint64(1) << info;
            // The 16-byte form holds an unsigned 64-bit value; libplist would drop any higher bits.
            if (info == 4 && tableOffset_ - at >= length && readBigEndian(at, 8) != 0)
                return fail(QStringLiteral("property list holds an integer out of the 64-bit range"));
            break;
        case 0x2:
            if (info != 2 && info != 3)
                return fail(QStringLiteral("binary property list has a bad real"));
            length = quint64(1) << info;
            break;
        case 0x3:
            if (info != 3)
                return fail(QStringLiteral("binary property list has a bad date"));
            length = 8;
            break;
        case 0x4:
        case 0x5:
            break;
        case 0x6:
            unit = 2;
            break;
        case 0x8:
            length = quint64(info) + 1;
            break;
        case 0xA:
        case 0xC:
            unit = refSize_;
            out->container = true;
            out->refs = length;
            break;
        case 0xD:
            if (length > std::numeric_limits<quint64>::max() / 2)
                return fail(QStringLiteral("binary property list has a bad object length"));
            unit = refSize_;
            length *= 2;
            out->container = true;
            out->refs = length;
            break;
        default:
            return fail(QStringLiteral("binary property list has an unknown object type"));
        }
        if (length > (tableOffset_ - at) / unit)
            return fail(QStringLiteral("binary property list object runs past its end"));
        out->refStart = at;
        out->type = type;
        if (type == 0x4 || type == 0x5 || type == 0x6)
            out->payload = length * unit;
        return true;
    }

    // libplist 2.2 aborts on an assertion when a dictionary key holds U+0000 (its length and strlen differ).
    bool keyHoldsNul(quint64 index)
    {
        Node& node = nodes_[index];
        if (!node.keyChecked) {
            node.keyChecked = true;
            Extent ext;
            if (extent(index, &ext) && (ext.type == 0x5 || ext.type == 0x6)) {
                const quint64 unit = ext.type == 0x6 ? 2 : 1;
                for (quint64 at = ext.refStart; at + unit <= ext.refStart + ext.payload && !node.keyHoldsNul; at += unit)
                    node.keyHoldsNul = readBigEndian(at, int(unit)) == 0;
            }
        }
        return node.keyHoldsNul;
    }

    // Depth-first over references. Recursion is bounded: a path deeper than maxDepth fails first.
    bool visit(quint64 index, int depth)
    {
        Node& node = nodes_[index];
        if (node.state == State::Visiting)
            return fail(QStringLiteral("binary property list contains itself"));
        if (node.state == State::Done) {
            if (depth + node.height > limits_.maxDepth)
                return fail(QStringLiteral("property list nests deeper than %1").arg(limits_.maxDepth));
            return true;
        }
        Extent ext;
        if (!extent(index, &ext))
            return false;
        if (ext.container && depth + 1 > limits_.maxDepth)
            return fail(QStringLiteral("property list nests deeper than %1").arg(limits_.maxDepth));
        node.state = State::Visiting;
        quint64 values = 1;
        quint64 payload = ext.payload;
        int height = ext.container ? 1 : 0;
        const quint64 keys = ext.type == 0xD ? ext.refs / 2 : 0;
        for (quint64 r = 0; r < ext.refs; ++r) {
            const quint64 child = readBigEndian(ext.refStart + r * refSize_, refSize_);
            if (child >= nodes_.size())
                return fail(QStringLiteral("binary property list has an object reference out of range"));
            if (!visit(child, depth + 1))
                return false;
            if (r < keys && keyHoldsNul(child))
                return fail(QStringLiteral("binary property list has a dictionary key holding U+0000"));
            // Both sums stay below 2^63: each term is at most its bound plus one.
            values = std::min(maxValues_ + 1, values + nodes_[child].values);
            payload = std::min(maxPayload_ + 1, payload + nodes_[child].payload);
            height = std::max(height, 1 + nodes_[child].height);
            if (values > maxValues_)
                return fail(QStringLiteral("property list holds more than %1 values").arg(maxValues_));
            if (payload > maxPayload_)
                return fail(QStringLiteral("property list expands to more than %1 bytes of text and data").arg(maxPayload_));
        }
        if (payload > maxPayload_)
            return fail(QStringLiteral("property list expands to more than %1 bytes of text and data").arg(maxPayload_));
        // `node` stays valid: nodes_ never grows during the walk.
        node.state = State::Done;
        node.values = values;
        node.payload = payload;
        node.height = height;
        return true;
    }

public:
    // The value of the checked list, read straight from its bytes: libplist would first build a tree of
    // its own nodes, several times the size of the values. An object referred to again is the same
    // (implicitly shared) value, not a copy. Call after check() succeeded.
    QVariant read(QString* error)
    {
        converted_.assign(offsets_.size(), QVariant());
        const QVariant value = convert(top_);
        *error = error_;
        converted_.clear();
        return error_.isEmpty() ? value : QVariant();
    }

private:
    QVariant convert(quint64 index)
    {
        if (converted_[index].isValid())
            return converted_[index];
        Extent ext;
        if (!extent(index, &ext))
            return {};
        const quint64 at = offsets_[index];
        const int info = data_[at] & 0x0f;
        QVariant value;
        switch (ext.type) {
        case 0x0:
            if (info != 0x8 && info != 0x9) {
                fail(QStringLiteral("binary property list is malformed"));
                return {};
            }
            value = values::fromBool(info == 0x9);
            break;
        case 0x1: {
            const int width = 1 << info;
            const quint64 v = readBigEndian(at + 1 + quint64(width > 8 ? width - 8 : 0), std::min(width, 8));
            // 1, 2 and 4 bytes hold unsigned values, 8 a signed one, 16 an unsigned 64-bit one.
            value = width == 16 && v > quint64(std::numeric_limits<qint64>::max()) ? values::fromUnsigned(v)
                                                                                   : values::fromSigned(qint64(v));
            break;
        }
        case 0x2:
            if (info == 2) {
                const quint32 bits = quint32(readBigEndian(at + 1, 4));
                float f = 0;
                std::memcpy(&f, &bits, sizeof f);
                value = values::fromReal(double(f));
            } else {
                const quint64 bits = readBigEndian(at + 1, 8);
                double d = 0;
                std::memcpy(&d, &bits, sizeof d);
                value = values::fromReal(d);
            }
            break;
        case 0x3: {
            const quint64 bits = readBigEndian(at + 1, 8);
            double seconds = 0;
            std::memcpy(&seconds, &bits, sizeof seconds);
            if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxDateSeconds) {
                fail(QStringLiteral("property list holds a date out of range"));
                return {};
            }
            const qint64 msecs = qint64(std::llround(seconds * 1000.0)) + kReferenceDateMSecs;
            value = values::fromDate(QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC));
            break;
        }
        case 0x4:
            value = values::fromData(QByteArray(reinterpret_cast<const char*>(data_ + ext.refStart), qsizetype(ext.payload)));
            break;
        case 0x5:
            value = values::fromString(QString::fromUtf8(reinterpret_cast<const char*>(data_ + ext.refStart), qsizetype(ext.payload)));
            break;
        case 0x6: {
            QString text(qsizetype(ext.payload / 2), Qt::Uninitialized);
            for (qsizetype i = 0; i < text.size(); ++i)
                text[i] = QChar(char16_t(readBigEndian(ext.refStart + quint64(i) * 2, 2)));
            // As a conversion to UTF-8 would: a lone surrogate is no character.
            value = values::fromString(QString::fromUtf8(text.toUtf8()));
            break;
        }
        case 0x8:
            value = QVariant::fromValue(PlistUid{readBigEndian(at + 1, info + 1)});
            break;
        case 0xA:
        case 0xC: {
            QVariantList list;
            list.reserve(qsizetype(ext.refs));
            for (quint64 r = 0; r < ext.refs; ++r) {
                list.append(convert(readBigEndian(ext.refStart + r * quint64(refSize_), refSize_)));
                if (!error_.isEmpty())
                    return {};
            }
            value = values::fromArray(list);
            break;
        }
        case 0xD: {
            QVariantMap map;
            const quint64 keys = ext.refs / 2;
            for (quint64 r = 0; r < keys; ++r) {
                const QVariant key = convert(readBigEndian(ext.refStart + r * quint64(refSize_), refSize_));
                const QVariant item = convert(readBigEndian(ext.refStart + (keys + r) * quint64(refSize_), refSize_));
                if (!error_.isEmpty())
                    return {};
                if (values::kindOf(key) != values::Kind::String) {
                    fail(QStringLiteral("binary property list is malformed"));
                    return {};
                }
                map.insert(key.toString(), item);
            }
            value = values::fromDictionary(map);
            break;
        }
        default:
            fail(QStringLiteral("binary property list is malformed"));
            return {};
        }
        converted_[index] = value;
        return value;
    }

    const uchar* data_;
    quint64 size_;
    const PlistLimits& limits_;
    quint64 top_ = 0;
    std::vector<QVariant> converted_;
    int offsetSize_ = 0;
    int refSize_ = 0;
    quint64 tableOffset_ = 0;
    quint64 maxValues_ = 0;
    quint64 maxPayload_ = 0;
    std::vector<quint64> offsets_;
    std::vector<Node> nodes_;
    QString error_;
};

// --- XML integers ----------------------------------------------------------------------------------
// libplist 2.2 reads <integer> with strtoull in base 0 and negates afterwards: a value beyond 64 bits
// saturates and wraps (-99999999999999999999 reads as 1), "1.5" reads as 1, "010" as 8 and "" as 0. The
// text is held to a sign, then decimal digits without a leading zero or 0x and hex digits, and to the
// range -2^63 ... 2^64-1; an empty reason means libplist will read it as written.
QString checkXmlInteger(QByteArrayView content)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!content.isEmpty() && isSpace(content.front()))
        content = content.sliced(1);
    while (!content.isEmpty() && isSpace(content.back()))
        content.chop(1);
    const QString shown = QString::fromUtf8(content.first(std::min<qsizetype>(content.size(), 40))) + (content.size() > 40 ? QStringLiteral("...") : QString());
    const auto malformed = [&] { return QStringLiteral("property list holds an integer that is no whole number: \"%1\"").arg(shown); };
    QByteArrayView digits = content;
    const bool negative = digits.startsWith('-');
    if (negative || digits.startsWith('+'))
        digits = digits.sliced(1);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.sliced(2);
    } else if (digits.size() > 1 && digits[0] == '0') {
        return malformed(); // read as octal, or cut at an 8 or 9
    }
    if (digits.isEmpty())
        return malformed();
    quint64 value = 0;
    bool overflow = false;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return malformed();
        if (value > (std::numeric_limits<quint64>::max() - quint64(digit)) / quint64(base))
            overflow = true;
        else
            value = value * quint64(base) + quint64(digit);
    }
    if (overflow || (negative && value > quint64(std::numeric_limits<qint64>::max()) + 1))
        return QStringLiteral("property list holds an integer out of the 64-bit range: %1").arg(shown);
    return {};
}

// --- XML structure check ---------------------------------------------------------------------------
// libplist's XML parser recurses once per nesting level and overflows the stack on deep input, so the
// nesting and the number of values are counted from the tags first. Comments, CDATA and processing
// instructions are skipped; the count errs on the side of more.
QString checkXml(const QByteArray& bytes, const PlistLimits& limits)
{
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    const auto startsWith = [&](const char* at, const char* token) {
        const size_t n = std::strlen(token);
        return size_t(end - at) >= n && std::memcmp(at, token, n) == 0;
    };
    const auto skipPast = [&](const char* at, const char* token) -> const char* {
        const size_t n = std::strlen(token);
        for (; size_t(end - at) >= n; ++at)
            if (std::memcmp(at, token, n) == 0)
                return at + n;
        return end;
    };
    int depth = 0;
    qsizetype values = 0;
    while (p < end) {
        p = static_cast<const char*>(std::memchr(p, '<', size_t(end - p)));
        if (!p)
            break;
        if (startsWith(p, "<!--")) {
            p = skipPast(p + 4, "-->");
            continue;
        }
        if (startsWith(p, "<![CDATA[")) {
            p = skipPast(p + 9, "]]>");
            continue;
        }
        if (startsWith(p, "<?") || startsWith(p, "<!")) {
            p = skipPast(p + 2, ">");
            continue;
        }
        const bool closing = startsWith(p, "</");
        const char* name = p + (closing ? 2 : 1);
        const char* tagEnd = static_cast<const char*>(std::memchr(name, '>', size_t(end - name)));
        if (!tagEnd)
            break;
        const bool selfClosing = tagEnd > name && tagEnd[-1] == '/';
        const auto nameIs = [&](const char* token) {
            const size_t n = std::strlen(token);
            return size_t(tagEnd - name) >= n && std::memcmp(name, token, n) == 0
                && (name + n == tagEnd || name[n] == '/' || name[n] == ' ' || name[n] == '\t' || name[n] == '\r'
                    || name[n] == '\n');
        };
        const bool container = nameIs("array") || nameIs("dict");
        if (!closing && nameIs("integer")) {
            // The text up to the closing tag; anything else inside (a comment, CDATA) is no integer either.
            const char* text = tagEnd + 1;
            const char* next = selfClosing ? text : static_cast<const char*>(std::memchr(text, '<', size_t(end - text)));
            if (!selfClosing && (!next || !startsWith(next, "</integer")))
                return QStringLiteral("property list holds an integer that is no whole number");
            const QString problem = checkXmlInteger(QByteArrayView(text, selfClosing ? 0 : next - text));
            if (!problem.isEmpty())
                return problem;
        }
        if (closing) {
            if (container && depth > 0)
                --depth;
        } else if (!nameIs("plist") && !nameIs("key")) {
            if (++values > limits.maxValues)
                return QStringLiteral("property list holds more than %1 values").arg(limits.maxValues);
            if (container && !selfClosing && ++depth > limits.maxDepth)
                return QStringLiteral("property list nests deeper than %1").arg(limits.maxDepth);
        }
        p = tagEnd + 1;
    }
    return {};
}

// --- XML -> QVariant --------------------------------------------------------------------------------
// Straight from the text, after checkXml: libplist would first build a tree of its own nodes, several
// times the size of the values, and a general XML reader costs twice the time. Its readings are kept:
// integers as checkXmlInteger allows them, reals as atof reads them, dates to the whole second, base64
// with anything else skipped, a dictionary of the one key "CF$UID" with an integer as a UID. Comments,
// processing instructions, a document type, CDATA and the XML character references are understood.
class XmlReader {
public:
    XmlReader(const QByteArray& bytes, const PlistLimits& limits)
        : p_(bytes.constData()), end_(bytes.constData() + bytes.size()), limits_(limits)
    {
    }

    QVariant read(QString* error)
    {
        QVariant value;
        QByteArray name;
        bool selfClosing = false;
        if (!startTag(&name, &selfClosing)) {
            failed();
        } else if (name == "plist") {
            if (selfClosing || !startTag(&name, &selfClosing))
                failed();
            else
                value = readValue(name, selfClosing, 0);
        } else {
            value = readValue(name, selfClosing, 0);
        }
        *error = error_;
        return error_.isEmpty() ? value : QVariant();
    }

private:
    bool startsWith(const char* token) const
    {
        const size_t n = std::strlen(token);
        return size_t(end_ - p_) >= n && std::memcmp(p_, token, n) == 0;
    }

    bool skipPast(const char* token)
    {
        const size_t n = std::strlen(token);
        for (; size_t(end_ - p_) >= n; ++p_) {
            if (std::memcmp(p_, token, n) == 0) {
                p_ += n;
                return true;
            }
        }
        p_ = end_;
        return false;
    }

    // Past white space, comments, processing instructions and a document type, to the next '<' of a tag.
    bool skipToTag()
    {
        for (;;) {
            while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
                ++p_;
            if (p_ >= end_ || *p_ != '<')
                return false;
            if (startsWith("<!--")) {
                if (!skipPast("-->"))
                    return false;
            } else if (startsWith("<?")) {
                if (!skipPast("?>"))
                    return false;
            } else if (startsWith("<!DOCTYPE")) {
                // An internal subset in brackets may hold '>'.
                const char* close = static_cast<const char*>(std::memchr(p_, '>', size_t(end_ - p_)));
                const char* open = static_cast<const char*>(std::memchr(p_, '[', size_t(end_ - p_)));
                if (open && close && open < close && !skipPast("]"))
                    return false;
                if (!skipPast(">"))
                    return false;
            } else {
                return true;
            }
        }
    }

    // The next start tag at this level; false at an end tag (left unread), the end, or anything else.
    bool startTag(QByteArray* name, bool* selfClosing)
    {
        if (!skipToTag() || startsWith("</"))
            return false;
        const char* at = ++p_;
        while (p_ < end_ && *p_ != '>' && *p_ != '/' && *p_ != ' ' && *p_ != '\t' && *p_ != '\n' && *p_ != '\r')
            ++p_;
        *name = QByteArray(at, p_ - at);
        const char* close = static_cast<const char*>(std::memchr(p_, '>', size_t(end_ - p_)));
        if (!close || name->isEmpty())
            return false;
        *selfClosing = close[-1] == '/';
        p_ = close + 1;
        return true;
    }

    // Consumes "</name>" (white space before '>' allowed).
    bool endTag(const QByteArray& name)
    {
        if (!skipToTag() || !startsWith("</"))
            return false;
        p_ += 2;
        if (size_t(end_ - p_) < size_t(name.size()) || std::memcmp(p_, name.constData(), size_t(name.size())) != 0)
            return false;
        p_ += name.size();
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
            ++p_;
        if (p_ >= end_ || *p_ != '>')
            return false;
        ++p_;
        return true;
    }

    QVariant failed(const QString& reason = QStringLiteral("not an XML property list"))
    {
        if (error_.isEmpty())
            error_ = reason;
        return {};
    }

    // The text of an element up to its end tag, its references resolved, as UTF-8.
    std::optional<QByteArray> text(const QByteArray& name, bool selfClosing)
    {
        QByteArray content;
        if (selfClosing)
            return content;
        for (;;) {
            const char* lt = static_cast<const char*>(std::memchr(p_, '<', size_t(end_ - p_)));
            if (!lt)
                return std::nullopt;
            if (!appendResolved(content, p_, lt))
                return std::nullopt;
            p_ = lt;
            if (startsWith("<![CDATA[")) {
                const char* from = p_ + 9;
                if (!skipPast("]]>"))
                    return std::nullopt;
                content.append(from, p_ - 3 - from);
            } else if (startsWith("<!--")) {
                if (!skipPast("-->"))
                    return std::nullopt;
            } else if (startsWith("</")) {
                if (!endTag(name))
                    return std::nullopt;
                return content;
            } else {
                return std::nullopt;
            }
        }
    }

    static bool appendResolved(QByteArray& out, const char* from, const char* to)
    {
        for (const char* amp; (amp = static_cast<const char*>(std::memchr(from, '&', size_t(to - from))));) {
            out.append(from, amp - from);
            const char* semicolon = static_cast<const char*>(std::memchr(amp, ';', size_t(to - amp)));
            if (!semicolon)
                return false;
            const QByteArrayView entity(amp + 1, semicolon - amp - 1);
            if (entity == "lt")
                out += '<';
            else if (entity == "gt")
                out += '>';
            else if (entity == "amp")
                out += '&';
            else if (entity == "quot")
                out += '"';
            else if (entity == "apos")
                out += '\'';
            else if (entity.startsWith('#')) {
                bool ok = false;
                const bool hex = entity.size() > 1 && (entity[1] == 'x' || entity[1] == 'X');
                const uint code = entity.sliced(hex ? 2 : 1).toByteArray().toUInt(&ok, hex ? 16 : 10);
                if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                    return false;
                const char32_t c = code;
                out += QString::fromUcs4(&c, 1).toUtf8();
            } else {
                return false;
            }
            from = semicolon + 1;
        }
        out.append(from, to - from);
        return true;
    }

    QVariant readValue(const QByteArray& name, bool selfClosing, int depth)
    {
        if (name == "dict" || name == "array") {
            if (depth + 1 > limits_.maxDepth)
                return failed(QStringLiteral("property list nests deeper than %1").arg(limits_.maxDepth));
            if (selfClosing)
                return name == "dict" ? values::fromDictionary({}) : values::fromArray({});
            return name == "dict" ? readDictionary(depth + 1) : readArray(depth + 1);
        }
        const std::optional<QByteArray> content = text(name, selfClosing);
        if (!content)
            return failed();
        if (name == "string")
            return values::fromString(QString::fromUtf8(*content));
        if (name == "integer")
            return readInteger(content->trimmed());
        if (name == "real")
            return values::fromReal(std::strtod(content->trimmed().constData(), nullptr));
        if (name == "true" || name == "false")
            return values::fromBool(name == "true");
        if (name == "date")
            return readDate(QString::fromUtf8(content->trimmed()));
        if (name == "data")
            return values::fromData(QByteArray::fromBase64(*content));
        return failed();
    }

    // Where the container being read lies: "Registry[1].Properties" (built only for a message).
    QString path() const
    {
        QString text;
        for (const Frame& frame : frames_) {
            if (frame.dictionary)
                text += (text.isEmpty() ? QString() : QStringLiteral(".")) + frame.key;
            else
                text += QStringLiteral("[%1]").arg(frame.index);
        }
        return text;
    }

    QVariant readArray(int depth)
    {
        QVariantList list;
        QByteArray name;
        bool selfClosing = false;
        frames_.push_back({false, {}, 0});
        while (error_.isEmpty() && startTag(&name, &selfClosing)) {
            frames_.back().index = list.size();
            list.append(readValue(name, selfClosing, depth));
        }
        frames_.pop_back();
        if (!error_.isEmpty() || !endTag("array"))
            return failed();
        return values::fromArray(list);
    }

    QVariant readDictionary(int depth)
    {
        QVariantMap map;
        QByteArray name;
        bool selfClosing = false;
        bool integerValue = false;
        while (error_.isEmpty() && startTag(&name, &selfClosing)) {
            if (name != "key")
                return failed();
            const std::optional<QByteArray> utf8 = text(name, selfClosing);
            if (!utf8 || !startTag(&name, &selfClosing))
                return failed();
            const QString key = QString::fromUtf8(*utf8);
            if (limits_.refuseDuplicateKeys && map.contains(key)) {
                const QString where = path();
                return failed((where.isEmpty() ? key : where + QLatin1Char('.') + key) + QStringLiteral(": key given twice"));
            }
            integerValue = name == "integer";
            frames_.push_back({true, key, 0});
            map.insert(key, readValue(name, selfClosing, depth));
            frames_.pop_back();
        }
        if (!error_.isEmpty() || !endTag("dict"))
            return failed();
        if (map.size() == 1 && integerValue && map.contains(QStringLiteral("CF$UID"))) {
            const QVariant n = map.first();
            return QVariant::fromValue(PlistUid{values::kindOf(n) == values::Kind::Unsigned ? n.toULongLong() : quint64(n.toLongLong())});
        }
        return values::fromDictionary(map);
    }

    QVariant readInteger(const QByteArray& digits)
    {
        if (const QString problem = checkXmlInteger(digits); !problem.isEmpty())
            return failed(problem);
        QByteArrayView rest(digits);
        const bool negative = rest.startsWith('-');
        if (negative || rest.startsWith('+'))
            rest = rest.sliced(1);
        const bool hex = rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X');
        bool ok = false;
        const quint64 magnitude = (hex ? rest.sliced(2) : rest).toByteArray().toULongLong(&ok, hex ? 16 : 10);
        if (!ok)
            return failed(QStringLiteral("property list holds an integer that is no whole number"));
        if (negative)
            return values::fromSigned(qint64(0 - magnitude));
        return magnitude > quint64(std::numeric_limits<qint64>::max()) ? values::fromUnsigned(magnitude)
                                                                         : values::fromSigned(qint64(magnitude));
    }

    QVariant readDate(const QString& content)
    {
        const QDateTime date = QDateTime::fromString(content, Qt::ISODate);
        if (!date.isValid())
            return failed(QStringLiteral("property list holds a date that cannot be read"));
        const qint64 seconds = date.toSecsSinceEpoch();
        if (std::fabs(double(seconds) - double(kReferenceDateMSecs / 1000)) > kMaxDateSeconds)
            return failed(QStringLiteral("property list holds a date out of range"));
        return values::fromDate(QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC));
    }

    struct Frame {
        bool dictionary;
        QString key;
        qsizetype index;
    };

    const char* p_;
    const char* const end_;
    const PlistLimits& limits_;
    std::vector<Frame> frames_;
    QString error_;
};

// A one-object binary property list, for the values that libplist 2.2 can only make by parsing: integers
// of 2^63 and more (the 16-byte form marks them unsigned) and dates as an exact real.
PlistPtr nodeFromSingleObject(const QByteArray& object)
{
    QByteArray bytes = kBinaryMagic + object;
    bytes.append(char(kBinaryMagic.size())); // offset table: one 1-byte offset
    QByteArray trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    qToBigEndian<quint64>(1, trailer.data() + 8);
    qToBigEndian<quint64>(0, trailer.data() + 16);
    qToBigEndian<quint64>(quint64(kBinaryMagic.size() + object.size()), trailer.data() + 24);
    bytes += trailer;
    plist_t node = nullptr;
    plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &node);
    return PlistPtr(node);
}


// --- QVariant -> libplist (XML) ---------------------------------------------------------------------
class Writer {
public:
    explicit Writer(PlistFormat format) : format_(format) {}

    QString error;

    PlistPtr build(const QVariant& value)
    {
        if (value.metaType() == QMetaType::fromType<PlistUid>()) {
            const quint64 uid = value.value<PlistUid>().value;
            return PlistPtr(plist_new_uid(uid));
        }
        switch (values::kindOf(value)) {
        case values::Kind::Bool:
            return PlistPtr(plist_new_bool(value.toBool() ? 1 : 0));
        case values::Kind::Signed:
            return PlistPtr(plist_new_uint(uint64_t(value.toLongLong())));
        case values::Kind::Unsigned: {
            const quint64 v = value.toULongLong();
            if (v <= quint64(std::numeric_limits<qint64>::max()))
                return PlistPtr(plist_new_uint(v));
            QByteArray object(17, '\0');
            object[0] = char(0x14);
            qToBigEndian<quint64>(v, object.data() + 9);
            return checked(nodeFromSingleObject(object), "unsigned integer");
        }
        case values::Kind::Real:
            return PlistPtr(plist_new_real(value.toDouble()));
        case values::Kind::String: {
            const QByteArray utf8 = text(value.toString());
            if (utf8.contains('\0'))
                return fail(QStringLiteral("a string holding U+0000"));
            return PlistPtr(plist_new_string(utf8.constData()));
        }
        case values::Kind::Data: {
            const QByteArray bytes = value.toByteArray();
            return PlistPtr(plist_new_data(bytes.constData(), uint64_t(bytes.size())));
        }
        case values::Kind::Date: {
            const QDateTime date = value.toDateTime();
            if (!date.isValid())
                return fail(QStringLiteral("an invalid date"));
            qint64 msecs = date.toMSecsSinceEpoch() - kReferenceDateMSecs;
            // XML dates have whole seconds, and libplist would cut toward 2001; keep the second it lies in.
            if (format_ == PlistFormat::Xml)
                msecs = (msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000)) * 1000;
            const double seconds = double(msecs) / 1000.0;
            if (std::fabs(seconds) > kMaxDateSeconds)
                return fail(QStringLiteral("a date out of range"));
            // The XML date element holds four-digit years only; others would read back as another date.
            if (format_ == PlistFormat::Xml && (date.toUTC().date().year() < 1 || date.toUTC().date().year() > 9999))
                return fail(QStringLiteral("a date outside the years 1 to 9999"));
            QByteArray object(9, '\0');
            object[0] = char(0x33);
            qToBigEndian<double>(seconds, object.data() + 1);
            return checked(nodeFromSingleObject(object), "date");
        }
        case values::Kind::Array: {
            PlistPtr array(plist_new_array());
            for (const QVariant& item : value.toList()) {
                PlistPtr child = build(item);
                if (!child)
                    return nullptr;
                plist_array_append_item(array.get(), child.release());
            }
            return array;
        }
        case values::Kind::Dictionary: {
            PlistPtr dict(plist_new_dict());
            const QVariantMap map = value.toMap();
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                const QByteArray key = text(it.key());
                if (key.contains('\0'))
                    return fail(QStringLiteral("a dictionary key holding U+0000"));
                PlistPtr child = build(it.value());
                if (!child)
                    return nullptr;
                plist_dict_set_item(dict.get(), key.constData(), child.release());
            }
            return dict;
        }
        case values::Kind::Object:
            return fail(QStringLiteral("an object (%1)").arg(values::toObject(value)->className()));
        case values::Kind::Invalid:
            break;
        }
        return fail(value.isValid() ? QStringLiteral("a value of type %1").arg(QString::fromLatin1(value.typeName()))
                                    : QStringLiteral("an invalid value"));
    }

private:
    PlistPtr fail(const QString& what)
    {
        if (error.isEmpty())
            error = QStringLiteral("cannot write %1 into a property list").arg(what);
        return nullptr;
    }

    // XML 1.0 cannot hold most control characters, U+FFFE, U+FFFF or a lone surrogate, and parsers refuse
    // a document with any of them; in XML they become U+FFFD. U+0000 is refused in both formats.
    QByteArray text(const QString& string) const
    {
        if (format_ != PlistFormat::Xml)
            return string.toUtf8();
        QString clean;
        const qsizetype n = string.size();
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = string.at(i).unicode();
            if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(string.at(i + 1).unicode()))
                continue;
            const bool pairedLow = QChar::isLowSurrogate(c) && i > 0 && QChar::isHighSurrogate(string.at(i - 1).unicode());
            const bool valid = c == 0 || c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c < 0xD800)
                || (c >= 0xE000 && c <= 0xFFFD) || pairedLow;
            if (!valid) {
                if (clean.isNull())
                    clean = string;
                clean[i] = QChar::ReplacementCharacter;
            }
        }
        return (clean.isNull() ? string : clean).toUtf8();
    }

    PlistPtr checked(PlistPtr node, const char* what)
    {
        if (!node)
            return fail(QString::fromLatin1(what));
        return node;
    }

    PlistFormat format_;
};

// libplist 2.2 finds the objects it has written in a table of 4096 fixed buckets, so its binary writer
// takes time in the square of the object count (minutes for a million). This one indexes them in a hash
// and is linear. Equal strings and numbers are written once, as libplist does.
class BinaryWriter {
public:
    QString error;

    QByteArray write(const QVariant& root)
    {
        if (add(root) < 0)
            return {};
        const quint64 count = quint64(objects_.size());
        const int refSize = bytesFor(count - 1);
        const quint64 table = quint64(kBinaryMagic.size() + bytes_.size()) + quint64(refs_.size()) * quint64(refSize);
        const int offsetSize = bytesFor(table);
        QByteArray out;
        out.reserve(qsizetype(table + count * quint64(offsetSize) + 32));
        out += kBinaryMagic;
        std::vector<quint64> offsets;
        offsets.reserve(objects_.size());
        for (const Object& object : objects_) {
            offsets.push_back(quint64(out.size()));
            out.append(bytes_.constData() + object.bytesAt, object.bytesLength);
            for (quint64 r = object.refsAt; r < object.refsAt + object.refsLength; ++r)
                appendBigEndian(out, refs_[r], refSize);
        }
        for (const quint64 offset : offsets)
            appendBigEndian(out, offset, offsetSize);
        out += QByteArray(6, '\0');
        out += char(offsetSize);
        out += char(refSize);
        appendBigEndian(out, count, 8);
        appendBigEndian(out, 0, 8); // the top object comes first
        appendBigEndian(out, table, 8);
        return out;
    }

private:
    // A scalar's whole encoding, or a container's marker and count, in bytes_; a container's references
    // (a dictionary's keys, then its values) in refs_.
    struct Object {
        qsizetype bytesAt = 0;
        qsizetype bytesLength = 0;
        quint64 refsAt = 0;
        quint64 refsLength = 0;
    };

    static int bytesFor(quint64 v) { return v <= 0xff ? 1 : v <= 0xffff ? 2 : v <= 0xffffffffu ? 4 : 8; }

    static void appendBigEndian(QByteArray& out, quint64 v, int width)
    {
        for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
            out += char((v >> shift) & 0xff);
    }

    static void appendInteger(QByteArray& out, quint64 v, bool negative)
    {
        const int width = negative ? 8 : bytesFor(v);
        out += char(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3));
        appendBigEndian(out, v, width);
    }

    // A marker with its count: in the low nibble, or after it as an integer object.
    static void appendCounted(QByteArray& out, int type, quint64 count)
    {
        if (count < 15) {
            out += char((type << 4) | int(count));
            return;
        }
        out += char((type << 4) | 0x0f);
        appendInteger(out, count, false);
    }

    static void appendReal(QByteArray& out, int marker, double v)
    {
        quint64 bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        out += char(marker);
        appendBigEndian(out, bits, 8);
    }

    qint64 fail(const QString& what)
    {
        if (error.isEmpty())
            error = QStringLiteral("cannot write %1 into a property list").arg(what);
        return -1;
    }

    // The scalar encoded in scratch_, written once however often it occurs.
    qint64 scalar()
    {
        const auto known = scalars_.constFind(scratch_);
        if (known != scalars_.cend())
            return *known;
        const quint32 index = quint32(objects_.size());
        objects_.push_back(Object{bytes_.size(), scratch_.size(), 0, 0});
        bytes_ += scratch_;
        scalars_.insert(QByteArray(scratch_.constData(), scratch_.size()), index); // a copy: scratch_ stays unshared
        return index;
    }

    qint64 string(const QString& text, const char* what)
    {
        if (text.contains(QChar(0)))
            return fail(QString::fromLatin1(what));
        bool ascii = true;
        for (const QChar c : text)
            ascii = ascii && c.unicode() < 0x80;
        scratch_.resize(0); // keeps its capacity
        if (ascii) {
            appendCounted(scratch_, 0x5, quint64(text.size()));
            scratch_ += text.toLatin1();
            return scalar();
        }
        // UTF-16; a lone surrogate, which libplist's reader cannot take, becomes U+FFFD.
        const qsizetype n = text.size();
        appendCounted(scratch_, 0x6, quint64(n));
        for (qsizetype i = 0; i < n; ++i) {
            char16_t c = text.at(i).unicode();
            const bool pairedHigh = QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text.at(i + 1).unicode());
            const bool pairedLow = QChar::isLowSurrogate(c) && i > 0 && QChar::isHighSurrogate(text.at(i - 1).unicode());
            if (QChar::isSurrogate(c) && !pairedHigh && !pairedLow)
                c = QChar::ReplacementCharacter;
            appendBigEndian(scratch_, c, 2);
        }
        return scalar();
    }

    qint64 add(const QVariant& value)
    {
        if (objects_.size() >= std::numeric_limits<quint32>::max())
            return fail(QStringLiteral("more than 2^32 objects"));
        scratch_.resize(0); // keeps its capacity
        if (value.metaType() == QMetaType::fromType<PlistUid>()) {
            const quint64 uid = value.value<PlistUid>().value;
            // libplist 2.2 refuses to read a UID of 2^32 or more.
            if (uid > std::numeric_limits<quint32>::max())
                return fail(QStringLiteral("a UID of 2^32 or more"));
            const int width = bytesFor(uid);
            scratch_ += char(0x80 | (width - 1));
            appendBigEndian(scratch_, uid, width);
            return scalar();
        }
        switch (values::kindOf(value)) {
        case values::Kind::Bool:
            scratch_ += char(value.toBool() ? 0x09 : 0x08);
            return scalar();
        case values::Kind::Signed:
            appendInteger(scratch_, quint64(value.toLongLong()), value.toLongLong() < 0);
            return scalar();
        case values::Kind::Unsigned: {
            const quint64 v = value.toULongLong();
            if (v <= quint64(std::numeric_limits<qint64>::max())) {
                appendInteger(scratch_, v, false);
                return scalar();
            }
            // The 16-byte form marks an integer unsigned.
            scratch_ += char(0x14);
            appendBigEndian(scratch_, 0, 8);
            appendBigEndian(scratch_, v, 8);
            return scalar();
        }
        case values::Kind::Real:
            appendReal(scratch_, 0x23, value.toDouble());
            return scalar();
        case values::Kind::String:
            return string(value.toString(), "a string holding U+0000");
        case values::Kind::Data: {
            const QByteArray data = value.toByteArray();
            appendCounted(scratch_, 0x4, quint64(data.size()));
            scratch_ += data;
            return scalar();
        }
        case values::Kind::Date: {
            const QDateTime date = value.toDateTime();
            if (!date.isValid())
                return fail(QStringLiteral("an invalid date"));
            const double seconds = double(date.toMSecsSinceEpoch() - kReferenceDateMSecs) / 1000.0;
            if (std::fabs(seconds) > kMaxDateSeconds)
                return fail(QStringLiteral("a date out of range"));
            appendReal(scratch_, 0x33, seconds);
            return scalar();
        }
        case values::Kind::Array: {
            const QVariantList list = value.toList();
            const qint64 index = container(0xA, quint64(list.size()));
            std::vector<quint32> refs;
            refs.reserve(size_t(list.size()));
            for (const QVariant& item : list) {
                const qint64 child = add(item);
                if (child < 0)
                    return -1;
                refs.push_back(quint32(child));
            }
            return finish(index, refs);
        }
        case values::Kind::Dictionary: {
            const QVariantMap map = value.toMap();
            const qint64 index = container(0xD, quint64(map.size()));
            std::vector<quint32> refs;
            refs.reserve(size_t(map.size()) * 2);
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                const qint64 key = string(it.key(), "a dictionary key holding U+0000");
                if (key < 0)
                    return -1;
                refs.push_back(quint32(key));
            }
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                const qint64 child = add(it.value());
                if (child < 0)
                    return -1;
                refs.push_back(quint32(child));
            }
            return finish(index, refs);
        }
        case values::Kind::Object:
            return fail(QStringLiteral("an object (%1)").arg(values::toObject(value)->className()));
        case values::Kind::Invalid:
            break;
        }
        return fail(value.isValid() ? QStringLiteral("a value of type %1").arg(QString::fromLatin1(value.typeName()))
                                    : QStringLiteral("an invalid value"));
    }

    // A container takes its index before its elements, so that the top object is object 0.
    qint64 container(int type, quint64 count)
    {
        const quint32 index = quint32(objects_.size());
        const qsizetype at = bytes_.size();
        appendCounted(bytes_, type, count);
        objects_.push_back(Object{at, bytes_.size() - at, 0, 0});
        return index;
    }

    qint64 finish(qint64 index, const std::vector<quint32>& refs)
    {
        Object& object = objects_[size_t(index)];
        object.refsAt = quint64(refs_.size());
        object.refsLength = quint64(refs.size());
        refs_.insert(refs_.end(), refs.begin(), refs.end());
        return index;
    }

    QByteArray bytes_;
    std::vector<quint32> refs_;
    std::vector<Object> objects_;
    QHash<QByteArray, quint32> scalars_;
    QByteArray scratch_;
};

} // namespace

PlistReadResult readPropertyList(const QByteArray& bytes, const PlistLimits& limits)
{
    PlistReadResult result;
    const auto failed = [&](const QString& reason) {
        result.value = QVariant();
        result.error = reason;
        return result;
    };
    result.format = bytes.startsWith("bplist") ? PlistFormat::Binary : PlistFormat::Xml;
    if (bytes.isEmpty())
        return failed(QStringLiteral("property list is empty"));
    if (bytes.size() > limits.maxInputBytes || quint64(bytes.size()) > std::numeric_limits<uint32_t>::max())
        return failed(QStringLiteral("property list is larger than %1 bytes").arg(limits.maxInputBytes));

    QString error;
    QVariant value;
    if (result.format == PlistFormat::Binary) {
        if (!bytes.startsWith(kBinaryMagic))
            return failed(QStringLiteral("binary property list of an unknown version"));
        BinaryPlistScanner scanner(bytes, limits);
        error = scanner.check();
        if (error.isEmpty())
            value = scanner.read(&error);
    } else {
        const CLocaleScope cLocale; // for the reals
        error = checkXml(bytes, limits);
        if (error.isEmpty())
            value = XmlReader(bytes, limits).read(&error);
    }
    if (!error.isEmpty())
        return failed(error);
    result.value = std::move(value);
    return result;
}

QByteArray writePropertyList(const QVariant& value, PlistFormat format)
{
    if (format == PlistFormat::Binary) {
        BinaryWriter binary;
        const QByteArray bytes = binary.write(value);
        if (bytes.isNull())
            log("PropertyList", binary.error);
        return bytes;
    }
    Writer writer(format);
    PlistPtr root = writer.build(value);
    if (!root) {
        log("PropertyList", writer.error);
        return {};
    }
    char* bytes = nullptr;
    uint32_t length = 0;
    const CLocaleScope cLocale;
    plist_to_xml(root.get(), &bytes, &length);
    QByteArray result;
    if (bytes && length > 0)
        result = QByteArray(bytes, qsizetype(length));
    std::free(bytes);
    if (result.isEmpty())
        log("PropertyList", QStringLiteral("libplist wrote nothing"));
    return result;
}

namespace {

QString quoted(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.$/:-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// Appends to one text, so that a deep value costs its own size and not its size times its depth.
void describe(const QVariant& value, int depth, QString& text)
{
    const auto indent = [&text](int level) { text.append(QString(4 * level, QLatin1Char(' '))); };
    switch (values::kindOf(value)) {
    case values::Kind::Array: {
        text += QStringLiteral("(\n");
        const QVariantList list = value.toList();
        for (qsizetype i = 0; i < list.size(); ++i) {
            indent(depth + 1);
            describe(list.at(i), depth + 1, text);
            text += i + 1 < list.size() ? QStringLiteral(",\n") : QStringLiteral("\n");
        }
        indent(depth);
        text += QLatin1Char(')');
        return;
    }
    case values::Kind::Dictionary: {
        text += QStringLiteral("{\n");
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            indent(depth + 1);
            text += quoted(it.key()) + QStringLiteral(" = ");
            describe(it.value(), depth + 1, text);
            text += QStringLiteral(";\n");
        }
        indent(depth);
        text += QLatin1Char('}');
        return;
    }
    case values::Kind::Data:
        text += QLatin1Char('<') + QString::fromLatin1(value.toByteArray().toHex()) + QLatin1Char('>');
        return;
    case values::Kind::String:
        text += quoted(value.toString());
        return;
    default:
        text += value.toString();
        return;
    }
}

} // namespace

namespace {

// The rule of Writer::text: what XML 1.0 holds, U+0000 aside (refused in both formats).
bool xmlHoldsText(const QString& string)
{
    const qsizetype n = string.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = string.at(i).unicode();
        if (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c < 0xD800) || (c >= 0xE000 && c <= 0xFFFD) || c == 0)
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(string.at(i + 1).unicode())) {
            ++i;
            continue;
        }
        return false;
    }
    return true;
}

} // namespace

bool xmlHoldsEveryCharacter(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::String:
        return xmlHoldsText(value.toString());
    case values::Kind::Array: {
        const QVariantList list = value.toList();
        return std::all_of(list.cbegin(), list.cend(), [](const QVariant& element) { return xmlHoldsEveryCharacter(element); });
    }
    case values::Kind::Dictionary: {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!xmlHoldsText(it.key()) || !xmlHoldsEveryCharacter(it.value()))
                return false;
        }
        return true;
    }
    default:
        return true;
    }
}

QString describePropertyList(const QVariant& value)
{
    QString text;
    describe(value, 0, text);
    return text;
}

} // namespace platform
