#include "platform/hardware/EmulatedSmcConnection.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"

#include <QRegularExpression>

#include <algorithm>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace platform {

namespace {

using values::Kind;

// Layout of a wandering type: size in bytes, fraction bits, signed; or a little-endian IEEE single.
struct Numeric {
    int size = 0;
    int fraction = 0;
    bool isSigned = false;
    bool isFloat = false;
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<Numeric> numericType(quint32 type)
{
    const QString text = SmcConnection::fourCharText(type);
    if (text == QLatin1String("ui8 "))
        return Numeric{1, 0, false};
    if (text == QLatin1String("ui16"))
        return Numeric{2, 0, false};
    if (text == QLatin1String("ui32"))
        return Numeric{4, 0, false};
    if (text == QLatin1String("flt "))
        return Numeric{4, 0, false, true};
    const bool sp = text.startsWith(QLatin1String("sp"));
    if (sp || text.startsWith(QLatin1String("fp"))) {
        const int x = hexDigit(text[2].toLatin1());
        const int y = hexDigit(text[3].toLatin1());
        if (x >= 0 && y >= 0 && x + y == (sp ? 15 : 16) && (sp || y >= 1))
            return Numeric{2, y, sp};
    }
    return std::nullopt;
}

bool printable(quint32 code)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (((code >> shift) & 0xff) < 0x20 || ((code >> shift) & 0xff) > 0x7e)
            return false;
    return true;
}

std::optional<QString> fail(const QString& path, const QString& message)
{
    return path + QStringLiteral(": ") + message;
}

std::optional<QString> parseKey(const QVariantMap& entry, const QString& path, EmulatedSmcConnection::Key& key)
{
    static const QStringList known{QStringLiteral("Key"), QStringLiteral("Type"), QStringLiteral("Bytes"),
                                   QStringLiteral("Size"), QStringLiteral("Fail"), QStringLiteral("Wander")};
    for (auto it = entry.begin(); it != entry.end(); ++it)
        if (!known.contains(it.key()))
            return fail(path, QStringLiteral("unknown key \"%1\"").arg(it.key()));
    for (const char* name : {"Key", "Type"}) {
        const QVariant value = entry.value(QLatin1String(name));
        const std::optional<QString> text = values::toString(value);
        quint32 code = text ? SmcConnection::fourCharCode(*text) : 0;
        const Kind kind = values::kindOf(value);
        if (qstrcmp(name, "Type") == 0 && (kind == Kind::Signed || kind == Kind::Unsigned)) {
            const std::optional<quint64> number = values::toUnsigned(value);
            code = number && *number <= 0xffffffffULL ? quint32(*number) : 0;
        }
        if (code == 0)
            return fail(path + QLatin1Char('.') + QLatin1String(name),
                        QString::fromLatin1(qstrcmp(name, "Key") == 0 ? "not a four-character text"
                                                                      : "not a four-character text or a 32-bit code"));
        (qstrcmp(name, "Key") == 0 ? key.key : key.type) = code;
    }
    const std::optional<QByteArray> bytes = values::toData(entry.value(QStringLiteral("Bytes")));
    if (!bytes || bytes->isEmpty() || bytes->size() > SmcConnection::MaxDataBytes)
        return fail(path + QStringLiteral(".Bytes"), QStringLiteral("not data of 1 to 32 bytes"));
    key.bytes = *bytes;
    key.size = quint32(bytes->size());
    if (entry.contains(QStringLiteral("Size"))) {
        const QVariant value = entry.value(QStringLiteral("Size"));
        const Kind kind = values::kindOf(value);
        const std::optional<qint64> size = values::toSigned(value);
        if ((kind != Kind::Signed && kind != Kind::Unsigned) || !size || *size <= SmcConnection::MaxDataBytes
            || *size > 65535 || bytes->size() != SmcConnection::MaxDataBytes)
            return fail(path + QStringLiteral(".Size"), QStringLiteral("not a size of 33 to 65535 bytes with 32 bytes held"));
        key.size = quint32(*size);
    }
    if (entry.contains(QStringLiteral("Fail"))) {
        const QVariant value = entry.value(QStringLiteral("Fail"));
        if (values::kindOf(value) != Kind::Bool)
            return fail(path + QStringLiteral(".Fail"), QStringLiteral("not a boolean"));
        key.fail = value.toBool();
    }
    if (entry.contains(QStringLiteral("Wander"))) {
        const QString wanderPath = path + QStringLiteral(".Wander");
        const std::optional<QVariantMap> wander = values::toDictionary(entry.value(QStringLiteral("Wander")));
        if (!wander)
            return fail(wanderPath, QStringLiteral("not a dictionary"));
        for (auto it = wander->begin(); it != wander->end(); ++it)
            if (it.key() != QLatin1String("Amplitude") && it.key() != QLatin1String("Period")
                && it.key() != QLatin1String("Offset"))
                return fail(wanderPath, QStringLiteral("unknown key \"%1\"").arg(it.key()));
        const QVariant amplitude = wander->value(QStringLiteral("Amplitude"));
        const QVariant period = wander->value(QStringLiteral("Period"));
        const bool numbers = values::kindOf(amplitude) != Kind::Bool && values::isNumber(amplitude)
                             && values::kindOf(period) != Kind::Bool && values::isNumber(period);
        if (!numbers || !std::isfinite(*values::toReal(amplitude)) || !(*values::toReal(period) > 0)
            || !std::isfinite(*values::toReal(period)))
            return fail(wanderPath, QStringLiteral("needs a finite Amplitude and a Period above 0 seconds"));
        if (wander->contains(QStringLiteral("Offset"))) {
            const QVariant value = wander->value(QStringLiteral("Offset"));
            const Kind kind = values::kindOf(value);
            const std::optional<qint64> offset = values::toSigned(value);
            if ((kind != Kind::Signed && kind != Kind::Unsigned) || !offset || *offset < 0
                || *offset + 2 > key.bytes.size())
                return fail(wanderPath + QStringLiteral(".Offset"),
                            QStringLiteral("not the offset of 2 bytes within the %1 bytes").arg(key.bytes.size()));
            key.offset = int(*offset);
        }
        const std::optional<Numeric> numeric = numericType(key.type);
        if (key.offset < 0 && (!numeric || numeric->size != key.bytes.size()))
            return fail(wanderPath, QStringLiteral("type \"%1\" of %2 bytes cannot wander")
                                        .arg(SmcConnection::fourCharText(key.type))
                                        .arg(key.bytes.size()));
        key.wanders = true;
        key.amplitude = *values::toReal(amplitude);
        key.period = *values::toReal(period);
    }
    return std::nullopt;
}

} // namespace

EmulatedSmcConnection::LoadResult EmulatedSmcConnection::fromSection(const QVariantMap& smc)
{
    std::unique_ptr<EmulatedSmcConnection> connection(new EmulatedSmcConnection);
    for (auto it = smc.begin(); it != smc.end(); ++it)
        if (it.key() != QLatin1String("Keys") && it.key() != QLatin1String("OpenError"))
            return {nullptr, QStringLiteral("SMC: unknown key \"%1\"").arg(it.key())};
    if (smc.contains(QStringLiteral("OpenError"))) {
        const QVariant value = smc.value(QStringLiteral("OpenError"));
        const Kind kind = values::kindOf(value);
        const std::optional<qint64> code = values::toSigned(value);
        if ((kind != Kind::Signed && kind != Kind::Unsigned) || !code || *code <= 0 || *code > 4095)
            return {nullptr, QStringLiteral("SMC.OpenError: not an errno value")};
        connection->openError_ = int(*code);
    }
    const std::optional<QVariantList> keys = values::toArray(smc.value(QStringLiteral("Keys"), QVariantList{}));
    if (!keys)
        return {nullptr, QStringLiteral("SMC.Keys: not an array")};
    for (int i = 0; i < keys->size(); ++i) {
        const QString path = QStringLiteral("SMC.Keys[%1]").arg(i);
        const std::optional<QVariantMap> entry = values::toDictionary(keys->at(i));
        if (!entry)
            return {nullptr, path + QStringLiteral(": not a dictionary")};
        Key key;
        if (const std::optional<QString> error = parseKey(*entry, path, key))
            return {nullptr, *error};
        if (connection->indexOfKey_.contains(key.key))
            return {nullptr, path + QStringLiteral(".Key: duplicate key \"%1\"").arg(fourCharText(key.key))};
        connection->indexOfKey_.insert(key.key, connection->keys_.size());
        connection->keys_.append(key);
    }
    return {std::move(connection), QString()};
}

EmulatedSmcConnection::LoadResult EmulatedSmcConnection::fromComputer(const SimulatedComputer& computer)
{
    const std::optional<QVariantMap> smc = computer.smc();
    if (!smc)
        return {nullptr, QString()};
    return fromSection(*smc);
}

std::optional<QVariantMap> EmulatedSmcConnection::sectionFromDump(const QByteArray& text)
{
    static const QRegularExpression line(QStringLiteral(
        R"(^\[(.{4})\] type \[(.{4})\] ([0-9A-Fa-f]{8}) len \[ *(\d+)\] attr \[[0-9A-Fa-f]{2}\] -> (.*)$)"));
    static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
    QVariantList keys;
    const QList<QByteArray> lines = text.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        const QString row = QString::fromLatin1(lines[n]).trimmed();
        if (row.startsWith(QLatin1String("Hidden keys")))
            break; // keys outside the index
        if (!row.startsWith(QLatin1Char('[')))
            continue;
        const QRegularExpressionMatch match = line.match(row);
        const int size = match.hasMatch() ? match.captured(4).toInt() : 0;
        const QString value = match.captured(5);
        const bool unreadable = value.startsWith(QLatin1String("NOT READABLE"));
        if (!match.hasMatch() || size < 1 || size > 65535
            || (!unreadable && (!hex.match(value).hasMatch() || value.size() != 2 * size))) {
            log("EmulatedSmcConnection", QStringLiteral("malformed dump line %1").arg(n + 1));
            return std::nullopt;
        }
        // The type's hex code is exact where its text shows an unprintable byte ("ui8?" is 75693800).
        const quint32 type = match.captured(3).toUInt(nullptr, 16);
        QVariantMap entry{{QStringLiteral("Key"), match.captured(1)},
                          {QStringLiteral("Type"), printable(type) ? QVariant(fourCharText(type))
                                                                   : values::fromUnsigned(type)},
                          {QStringLiteral("Bytes"), unreadable ? QByteArray(std::min(size, int(MaxDataBytes)), '\0')
                                                               : QByteArray::fromHex(value.toLatin1()).left(MaxDataBytes)}};
        if (size > MaxDataBytes)
            entry.insert(QStringLiteral("Size"), qint64(size));
        if (unreadable)
            entry.insert(QStringLiteral("Fail"), true);
        keys.append(entry);
    }
    return QVariantMap{{QStringLiteral("Keys"), keys}};
}

int EmulatedSmcConnection::open()
{
    if (openError_ != 0)
        return openError_;
    open_ = true;
    return 0;
}

SmcAnswer<quint32> EmulatedSmcConnection::keyCount()
{
    if (!open_)
        return SmcAnswer<quint32>::failure(smcresult::Error);
    return SmcAnswer<quint32>::success(quint32(keys_.size()));
}

SmcAnswer<quint32> EmulatedSmcConnection::keyAtIndex(quint32 index)
{
    if (!open_)
        return SmcAnswer<quint32>::failure(smcresult::Error);
    if (index >= quint32(keys_.size()))
        return SmcAnswer<quint32>::failure(smcresult::KeyNotFound);
    return SmcAnswer<quint32>::success(keys_[int(index)].key);
}

SmcAnswer<SmcKeyInfo> EmulatedSmcConnection::keyInfo(quint32 key)
{
    if (!open_)
        return SmcAnswer<SmcKeyInfo>::failure(smcresult::Error);
    const auto found = indexOfKey_.constFind(key);
    if (found != indexOfKey_.constEnd()) {
        const Key& k = keys_[*found];
        return SmcAnswer<SmcKeyInfo>::success({k.size, k.type});
    }
    if (key == fourCharCode(QStringLiteral("#KEY")))
        return SmcAnswer<SmcKeyInfo>::success({4, fourCharCode(QStringLiteral("ui32"))});
    return SmcAnswer<SmcKeyInfo>::failure(smcresult::KeyNotFound);
}

SmcAnswer<QByteArray> EmulatedSmcConnection::readKey(quint32 key)
{
    if (!open_)
        return SmcAnswer<QByteArray>::failure(smcresult::Error);
    const auto found = indexOfKey_.constFind(key);
    if (found != indexOfKey_.constEnd()) {
        const Key& k = keys_[*found];
        if (k.fail)
            return SmcAnswer<QByteArray>::failure(smcresult::NotReadable);
        return SmcAnswer<QByteArray>::success(currentBytes(k));
    }
    if (key == fourCharCode(QStringLiteral("#KEY"))) {
        const quint32 n = quint32(keys_.size());
        const char bytes[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        return SmcAnswer<QByteArray>::success(QByteArray(bytes, 4));
    }
    return SmcAnswer<QByteArray>::failure(smcresult::KeyNotFound);
}

QByteArray EmulatedSmcConnection::currentBytes(const Key& key) const
{
    if (!key.wanders)
        return key.bytes;
    const Numeric numeric = key.offset >= 0 ? Numeric{2, 0, false} : *numericType(key.type);
    const int start = std::max(key.offset, 0);
    const double seconds = std::chrono::duration<double>(monotonicNow()).count();
    const double swing = key.amplitude * std::sin(2 * std::numbers::pi * seconds / key.period);
    QByteArray bytes = key.bytes;
    if (numeric.isFloat) {
        quint32 bits = 0;
        for (int i = 3; i >= 0; --i)
            bits = (bits << 8) | quint8(bytes[i]);
        float base = 0;
        std::memcpy(&base, &bits, sizeof base);
        const double limit = std::numeric_limits<float>::max();
        const float value = std::isfinite(base) ? float(std::clamp(double(base) + swing, -limit, limit)) : base;
        std::memcpy(&bits, &value, sizeof bits);
        for (int i = 0; i < 4; ++i)
            bytes[i] = char((bits >> (8 * i)) & 0xff);
        return bytes;
    }
    quint64 raw = 0;
    for (int i = 0; i < numeric.size; ++i)
        raw = (raw << 8) | quint8(bytes[start + i]);
    const int bits = 8 * numeric.size;
    const double base = numeric.isSigned && (raw >> (bits - 1)) ? double(qint64(raw) - (qint64(1) << bits)) : double(raw);
    const double scale = double(quint64(1) << numeric.fraction);
    const double value = base / scale + swing;
    const double lowest = numeric.isSigned ? -double(qint64(1) << (bits - 1)) : 0.0;
    const double highest = numeric.isSigned ? double((qint64(1) << (bits - 1)) - 1) : double((quint64(1) << bits) - 1);
    const qint64 scaled = qint64(std::clamp(std::round(value * scale), lowest, highest));
    for (int i = 0; i < numeric.size; ++i)
        bytes[start + i] = char((quint64(scaled) >> (8 * (numeric.size - 1 - i))) & 0xff);
    return bytes;
}

} // namespace platform
