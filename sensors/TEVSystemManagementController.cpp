#include "sensors/TEVSystemManagementController.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/HostRoot.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

const char* const ClassName = "TEVSystemManagementController";
constexpr quint32 MaxKeyCount = 0x10000; // far above any real SMC; bounds a corrupt "#KEY"

constexpr quint32 code(const char (&text)[5])
{
    return quint32(quint8(text[0])) << 24 | quint32(quint8(text[1])) << 16 | quint32(quint8(text[2])) << 8 |
           quint32(quint8(text[3]));
}

int hexDigit(quint32 c)
{
    if (c >= '0' && c <= '9')
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    return -1;
}

quint16 bigEndian16(const quint8* b)
{
    return quint16(b[0] << 8 | b[1]);
}

std::shared_ptr<TEVSystemManagementController>& shared()
{
    static std::shared_ptr<TEVSystemManagementController> controller;
    return controller;
}

} // namespace

TEVSystemManagementController::List
TEVSystemManagementController::availableSystemManagementControllers(TEVIORegistryEntry::Registry registry)
{
    List result;
    const auto entries = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("AppleSMC"), registry);
    if (!entries)
        return result;
    for (const auto& entry : *entries) {
        if (!entry->hasValueWithName(QStringLiteral("smc-version")))
            continue;
        auto connection = makeConnection();
        if (!connection)
            continue;
        if (auto controller = createWithIORegistryEntry(entry, std::move(connection)))
            result.push_back(std::move(controller));
    }
    return result;
}

std::shared_ptr<TEVSystemManagementController> TEVSystemManagementController::sharedSystemManagementController()
{
    // Several threads may ask first (the capture thread, the limits manager): one of them finds it.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    auto& controller = shared();
    if (!controller) {
        const auto found = availableSystemManagementControllers();
        if (!found.empty())
            controller = found.front();
    }
    return controller;
}

std::unique_ptr<platform::SmcConnection> TEVSystemManagementController::makeConnection()
{
    return platform::SmcConnection::forCurrentComputer(platform::HostRoot::current());
}

std::shared_ptr<TEVSystemManagementController>
TEVSystemManagementController::createWithIORegistryEntry(std::shared_ptr<TEVIORegistryEntry> entry,
                                                         std::unique_ptr<platform::SmcConnection> connection)
{
    if (!entry || !connection || !entry->hasValueWithName(QStringLiteral("smc-version")))
        return nullptr;
    auto controller = std::make_shared<TEVSystemManagementController>();
    controller->registryEntry_ = std::move(entry);
    if (const int error = connection->open()) {
        platform::log(ClassName, QStringLiteral("could not open service connection (error %1)").arg(error));
        return nullptr;
    }
    controller->serviceConnection_ = std::move(connection);

    if (controller->allPropertyKeys().contains(QStringLiteral("TC0D"))) {
        const QVariant diode = controller->objectValueForPropertyWithKey(QStringLiteral("TC0D"));
        const bool number = diode.typeId() == QMetaType::LongLong || diode.typeId() == QMetaType::Double;
        if (number && diode.toLongLong() > 256) {
            platform::log(ClassName, QStringLiteral("Strange entry for SMC CPU diode sensor 0 detected: Assuming "
                                                    "defective or fake System Management Controller. Rejecting "
                                                    "communication!"));
            return nullptr;
        }
    }
    return controller;
}

TEVSystemManagementController::~TEVSystemManagementController()
{
    if (serviceConnection_ && serviceConnection_->isOpen())
        serviceConnection_->close();
}

QString TEVSystemManagementController::versionNumber() const
{
    return registryEntry_ ? registryEntry_->stringValueWithName(QStringLiteral("smc-version")) : QString();
}

QStringList TEVSystemManagementController::allPropertyKeys()
{
    QStringList keys;
    if (!serviceConnection_)
        return keys;
    _TEVSMCValue count;
    quint32 n = 0;
    if (getValue(&count, code("#KEY"))) {
        const QVariant decoded = objectValueForSMCValue(&count);
        if (decoded.typeId() == QMetaType::LongLong || decoded.typeId() == QMetaType::Double)
            n = quint32(decoded.toLongLong());
    }
    if (n > MaxKeyCount) {
        platform::log(ClassName,
                      QStringLiteral("key count %1 is implausible; listing the first %2").arg(n).arg(MaxKeyCount));
        n = MaxKeyCount;
    }
    for (quint32 i = 0; i < n; ++i) {
        const auto answer = serviceConnection_->keyAtIndex(i);
        if (answer.ok() && answer.result == platform::smcresult::Success)
            keys.append(stringForFourCharCode(*answer.value));
    }
    return keys;
}

bool TEVSystemManagementController::getValue(_TEVSMCValue* value, quint32 key)
{
    if (!value || key == 0)
        return false;
    auto cached = valueCache_.find(key);
    if (cached != valueCache_.end() && cached->isValid()) {
        *value = cached->cachedValue();
        return true;
    }
    *value = _TEVSMCValue{};
    value->key = key;
    if (!serviceConnection_)
        return false;

    // An answer carrying a data value but an error result byte is still a failed read. A key this SMC does
    // not have is an ordinary answer (models differ in their keys); only other failures are logged.
    const auto failed = [](quint8 result) {
        if (result != platform::smcresult::KeyNotFound)
            platform::log(ClassName, QStringLiteral("function call failed with error %1").arg(result));
        return false;
    };
    const auto info = serviceConnection_->keyInfo(key);
    if (!info.ok() || info.result != platform::smcresult::Success)
        return failed(info.result);
    value->dataSize = info.value->size;
    value->dataType = info.value->type;
    const auto bytes = serviceConnection_->readKey(key);
    if (!bytes.ok() || bytes.result != platform::smcresult::Success)
        return failed(bytes.result);
    const qsizetype n = std::min<qsizetype>(bytes.value->size(), qsizetype(value->bytes.size()));
    std::memcpy(value->bytes.data(), bytes.value->constData(), size_t(n));
    if (cached == valueCache_.end())
        cached = valueCache_.insert(key, TEVSMCCachedValue());
    cached->setCachedValue(value);
    return true;
}

QVariant TEVSystemManagementController::objectValueForPropertyWithKey(const QString& key)
{
    const quint32 k = fourCharCodeForKeyString(key);
    _TEVSMCValue value;
    if (k == 0 || !getValue(&value, k))
        return {};
    return objectValueForSMCValue(&value);
}

QString TEVSystemManagementController::typeCodeForPropertyWithKey(const QString& key)
{
    const quint32 k = fourCharCodeForKeyString(key);
    _TEVSMCValue value;
    if (k == 0 || !getValue(&value, k))
        return {};
    return stringForFourCharCode(value.dataType);
}

QString TEVSystemManagementController::descriptionForPropertyWithKey(const QString& key)
{
    const quint32 k = fourCharCodeForKeyString(key);
    _TEVSMCValue value;
    if (k == 0 || !getValue(&value, k))
        return {};
    return descriptionForSMCValue(&value);
}

double TEVSystemManagementController::precisionForPropertyWithKey(const QString& key)
{
    const quint32 k = fourCharCodeForKeyString(key);
    _TEVSMCValue value;
    if (k == 0 || !getValue(&value, k))
        return -1.0;
    const quint32 prefix = value.dataType >> 16;
    if (prefix != (code("sp  ") >> 16) && prefix != (code("fp  ") >> 16))
        return 0.0;
    const float divisor = divisorForFixPointCode(value.dataType);
    return divisor > 0 ? 1.0 / double(divisor) : -1.0;
}

quint32 TEVSystemManagementController::fourCharCodeForKeyString(const QString& text)
{
    return platform::SmcConnection::fourCharCode(text);
}

QString TEVSystemManagementController::stringForFourCharCode(quint32 code)
{
    return platform::SmcConnection::fourCharText(code);
}

QVariant TEVSystemManagementController::objectValueForSMCValue(const _TEVSMCValue* value)
{
    if (!value || value->dataSize == 0)
        return {};
    const quint32 size = value->dataSize;
    const quint32 type = value->dataType;
    const quint8* b = value->bytes.data();
    // Never past the record's bytes, whatever size the SMC claims.
    const auto raw = [&] {
        return QVariant(QByteArray(reinterpret_cast<const char*>(b), qsizetype(std::min<quint32>(size, 32))));
    };

    if (type == code("flag"))
        return size == 1 ? QVariant(b[0] == 1) : raw();
    if (type == code("si8 "))
        return size == 1 ? QVariant(qint64(qint8(b[0]))) : raw();
    if (type == code("ui8 ") || type == code("byte") || type == 0x75693800u)
        return size == 1 ? QVariant(qint64(b[0])) : raw();
    if (type == code("ui16"))
        return size == 2 ? QVariant(qint64(bigEndian16(b))) : raw();
    if (type == code("ui32"))
        return size == 4 ? QVariant(qint64(quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3]))
                         : raw();
    if (type == code("flt ")) {
        if (size != 4)
            return raw();
        float f;
        std::memcpy(&f, b, sizeof f);
        return QVariant(double(f));
    }
    const quint32 prefix = type >> 16;
    if (size == 2 && (prefix == (code("sp  ") >> 16) || prefix == (code("fp  ") >> 16))) {
        const float divisor = divisorForFixPointCode(type);
        if (divisor > 0) {
            const bool isSigned = prefix == (code("sp  ") >> 16);
            const double raw16 = isSigned ? double(qint16(bigEndian16(b))) : double(bigEndian16(b));
            return QVariant(raw16 / double(divisor));
        }
    }
    if (type == code("ch8*"))
        return QVariant(QString::fromLatin1(reinterpret_cast<const char*>(b), qsizetype(std::min<quint32>(size, 32))));
    if (type == code("{alv")) {
        if (size == 6)
            return QVariant(qint64(bigEndian16(b + 2)));
        return raw();
    }
    if (type == code("{fds")) {
        if (size != 16)
            return raw();
        const char* text = reinterpret_cast<const char*>(b + 4);
        return QVariant(QString::fromLatin1(text, qsizetype(strnlen(text, 13))));
    }
    if (type == code("{rev")) {
        if (size != 6)
            return raw();
        return QVariant(QString::asprintf("%d.%d%x%d", int(qint8(b[0])), int(qint8(b[1])),
                                          unsigned(int(qint8(b[2]))), int(bigEndian16(b + 4))));
    }
    return raw();
}

QString TEVSystemManagementController::descriptionForSMCValue(const _TEVSMCValue* value)
{
    if (!value)
        return QStringLiteral("nil");
    const QVariant decoded = objectValueForSMCValue(value);
    switch (decoded.typeId()) {
    case QMetaType::Bool:
        return decoded.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::LongLong:
        return QString::number(decoded.toLongLong());
    case QMetaType::Double:
        return QString::number(decoded.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::QString:
        return decoded.toString();
    case QMetaType::QByteArray:
        return readableHexStringForData(decoded.toByteArray());
    default:
        return {};
    }
}

QString TEVSystemManagementController::readableHexStringForData(const QByteArray& data)
{
    if (data.isNull())
        return {};
    QString text = QStringLiteral("");
    for (const char byte : data)
        text += QString::asprintf("%02x ", unsigned(quint8(byte)));
    return text;
}

float TEVSystemManagementController::divisorForFixPointCode(quint32 type)
{
    const quint32 prefix = type >> 16;
    const int x = hexDigit((type >> 8) & 0xff);
    const int y = hexDigit(type & 0xff);
    if (x < 0 || y < 0)
        return -1;
    if (prefix == (code("fp  ") >> 16) && x + y == 16 && y >= 1)
        return float(1u << y);
    if (prefix == (code("sp  ") >> 16) && x + y == 15)
        return float(1u << y);
    return -1;
}
