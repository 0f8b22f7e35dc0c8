#include "acquisition/TEVSensorHistory.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/Values.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr auto kClassName = "TEVSensorHistory";

// Seconds from `from` to `to`; negative when `to` is earlier.
double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return double(from.msecsTo(to)) / 1000.0;
}

// Archives keep 32 bits per slot; a value that does not fit is kept at the nearest 32-bit value rather
// than wrapped into an unrelated number.
qint32 saturatedToInt32(qint64 value)
{
    return qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}

// A page of slots per block.
constexpr quint64 slotsPerBlock = 1024;
constexpr qint32 wideMarker = std::numeric_limits<qint32>::min();

// Whole steps as an unsigned count, bounded by `limit` so that huge gaps cannot overflow the conversion.
quint64 stepsBounded(double steps, quint64 limit)
{
    if (!(steps < double(limit)))
        return limit;
    return steps <= 0 ? 0 : quint64(steps);
}

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("NSObject"), 0,
    [](platform::Coder& coder) -> platform::ObjectRef { return TEVSensorHistory::createWithCoder(coder); });

} // namespace

TEVSensorHistory::TEVSensorHistory()
    : TEVSensorHistory(2, 1.0)
{
}

TEVSensorHistory::TEVSensorHistory(quint64 valueCount, double timeDelta)
    : valueCount_(valueCount)
    , timeDelta_(timeDelta)
    , blocks_(size_t((valueCount + slotsPerBlock - 1) / slotsPerBlock))
    , currentTime_(platform::currentDate())
{
}

std::shared_ptr<TEVSensorHistory> TEVSensorHistory::create(quint64 valueCount, double timeDelta)
{
    if (valueCount == 0 || valueCount > maximumValueCount || !std::isfinite(timeDelta) || !(timeDelta > 0))
        return nullptr;
    return std::shared_ptr<TEVSensorHistory>(new TEVSensorHistory(valueCount, timeDelta));
}

qint64 TEVSensorHistory::slot(quint64 index) const
{
    const auto& block = blocks_[size_t(index / slotsPerBlock)];
    if (block.empty())
        return -1;
    const qint32 value = block[size_t(index % slotsPerBlock)];
    return value == wideMarker ? wideValues_.at(index) : value;
}

void TEVSensorHistory::setSlot(quint64 index, qint64 rawValue)
{
    auto& block = blocks_[size_t(index / slotsPerBlock)];
    if (block.empty()) {
        if (rawValue == -1)
            return;
        block.assign(size_t(std::min(slotsPerBlock, valueCount_ - index / slotsPerBlock * slotsPerBlock)), -1);
    }
    qint32& stored = block[size_t(index % slotsPerBlock)];
    if (stored == wideMarker)
        wideValues_.erase(index);
    if (rawValue > wideMarker && rawValue <= std::numeric_limits<qint32>::max()) {
        stored = qint32(rawValue);
    } else {
        stored = wideMarker;
        wideValues_[index] = rawValue;
    }
}

void TEVSensorHistory::advanceIndex()
{
    if (++currentIndex_ >= qint64(valueCount_))
        currentIndex_ = 0;
}

void TEVSensorHistory::setPresentRawValue(qint64 rawValue)
{
    setPresentRawValue(rawValue, platform::currentDate());
}

void TEVSensorHistory::setPresentRawValue(qint64 rawValue, const QDateTime& now)
{
    const double elapsed = secondsBetween(currentTime_, now);
    // A clock that went back (or a newest slot dated in the future) drops the value and changes nothing.
    if (elapsed < 0)
        return;
    if (elapsed >= 2 * timeDelta_)
        discardOldestValuesWithCount(stepsBounded(std::ceil(elapsed / timeDelta_), valueCount_));
    // Every accepted value moves the ring by one slot, however little time passed: callers store once per step.
    advanceIndex();
    setSlot(quint64(currentIndex_), rawValue);
    currentTime_ = now;
}

QByteArray TEVSensorHistory::rawValueDataBetweenNowAndDate(const QDateTime& date) const
{
    if (!date.isValid())
        return {};
    const double steps = std::floor(secondsBetween(date, currentTime_) / timeDelta_);
    if (steps < 0 || steps > double(valueCount_))
        return {};
    const quint64 n = std::max<quint64>(1, quint64(steps));

    QByteArray result(qsizetype(n * sizeof(qint64)), Qt::Uninitialized);
    auto* out = reinterpret_cast<qint64*>(result.data());
    // Slots in time order: the newest n end at currentIndex, wrapping round the end of the buffer.
    const quint64 first = (quint64(currentIndex_) + valueCount_ + 1 - n) % valueCount_;
    for (quint64 k = 0, index = first; k < n; ++k, index = index + 1 == valueCount_ ? 0 : index + 1)
        out[k] = slot(index);
    return result;
}

void TEVSensorHistory::discardAllValues()
{
    for (auto& block : blocks_)
        std::vector<qint32>().swap(block);
    wideValues_.clear();
}

void TEVSensorHistory::discardOldestValuesWithCount(quint64 count)
{
    // A whole turn of the ring (a long sleep) ends where it began, with nothing left.
    if (count >= valueCount_) {
        discardAllValues();
        return;
    }
    for (quint64 i = 0; i < count; ++i) {
        advanceIndex();
        setSlot(quint64(currentIndex_), -1);
    }
}

std::shared_ptr<TEVSensorHistory> TEVSensorHistory::copy() const
{
    return std::make_shared<TEVSensorHistory>(*this);
}

QString TEVSensorHistory::description() const
{
    return QStringLiteral("%1: capacity %2 values, time delta %3 s, index %4 for reading at %5 (raw value %6)\n")
        .arg(className())
        .arg(valueCount_)
        .arg(timeDelta_, 0, 'f', 6)
        .arg(currentIndex_)
        .arg(currentTime_.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000")))
        .arg(slot(quint64(currentIndex_)));
}

void TEVSensorHistory::encodeWithCoder(platform::Coder& coder) const
{
    const quint32 count = quint32(valueCount_);
    coder.encodeValueOfObjCType("I", &count);
    coder.encodeValueOfObjCType("d", &timeDelta_);
    std::vector<qint32> archived(static_cast<size_t>(valueCount_));
    for (quint64 index = 0; index < valueCount_; ++index)
        archived[size_t(index)] = saturatedToInt32(slot(index));
    coder.encodeArrayOfObjCType('i', valueCount_, archived.data());
    const qint32 index = qint32(currentIndex_);
    coder.encodeValueOfObjCType("i", &index);
    coder.encodeObject(platform::values::fromDate(currentTime_));
}

std::shared_ptr<TEVSensorHistory> TEVSensorHistory::createWithCoder(platform::Coder& coder)
{
    // The unarchiver logs the reason once and answers nil for the whole archive.
    const auto reject = [&coder](const QString& reason) -> std::shared_ptr<TEVSensorHistory> {
        coder.failWithReason(QString::fromLatin1(kClassName) + QStringLiteral(": ") + reason);
        return nullptr;
    };

    quint32 count = 0;
    double timeDelta = 0;
    if (!coder.decodeValueOfObjCType("I", &count) || !coder.decodeValueOfObjCType("d", &timeDelta))
        return reject(QStringLiteral("truncated header"));
    // Checked before the slots are read, so a hostile count never sizes an allocation.
    if (const QString failure = checkHeader(count, timeDelta); !failure.isNull())
        return reject(failure);

    std::vector<qint32> archived(count);
    qint32 index = 0;
    if (!coder.decodeArrayOfObjCType('i', count, archived.data()) || !coder.decodeValueOfObjCType("i", &index))
        return reject(QStringLiteral("slots do not match capacity %1").arg(count));
    const auto date = platform::values::toDate(coder.decodeObject());
    QString failure;
    auto history = createFromArchivedFields(count, timeDelta, archived, index, date.value_or(QDateTime()), &failure);
    return history ? history : reject(failure);
}

std::shared_ptr<TEVSensorHistory> TEVSensorHistory::createWithArchivedValues(const QVariantMap& values, QString* reason)
{
    namespace v = platform::values;
    QString failure;
    std::shared_ptr<TEVSensorHistory> history;
    const auto count = v::toUnsigned(values.value(QStringLiteral("$0")));
    const auto timeDelta = v::toReal(values.value(QStringLiteral("$1")));
    const auto slotValues = v::toArray(values.value(QStringLiteral("$2")));
    const auto index = v::toSigned(values.value(QStringLiteral("$3")));
    const auto date = v::toDate(values.value(QStringLiteral("$4")));
    if (values.value(QStringLiteral("$class")).toString() != QLatin1String(kClassName))
        failure = QStringLiteral("not a history");
    else if (!count || !timeDelta || !slotValues || !index || *count > std::numeric_limits<quint32>::max())
        failure = QStringLiteral("fields missing or of the wrong kind");
    else if (failure = checkHeader(quint32(*count), *timeDelta); failure.isNull()) {
        std::vector<qint32> archived;
        archived.reserve(size_t(slotValues->size()));
        for (const QVariant& slot : *slotValues) {
            const auto value = v::toSigned(slot);
            if (!value || *value < std::numeric_limits<qint32>::min() || *value > std::numeric_limits<qint32>::max())
                break;
            archived.push_back(qint32(*value));
        }
        if (archived.size() != size_t(slotValues->size()) || archived.size() != *count)
            failure = QStringLiteral("slots do not match capacity %1").arg(*count);
        else if (*index < std::numeric_limits<qint32>::min() || *index > std::numeric_limits<qint32>::max())
            failure = QStringLiteral("index %1 outside capacity %2").arg(*index).arg(*count);
        else
            history = createFromArchivedFields(quint32(*count), *timeDelta, archived, qint32(*index),
                                               date.value_or(QDateTime()), &failure);
    }
    if (!history && reason)
        *reason = QString::fromLatin1(kClassName) + QStringLiteral(": ") + failure;
    return history;
}

QString TEVSensorHistory::checkHeader(quint32 count, double timeDelta)
{
    if (count == 0 || count > maximumValueCount)
        return QStringLiteral("implausible capacity %1").arg(count);
    if (!std::isfinite(timeDelta) || !(timeDelta > 0))
        return QStringLiteral("time delta %1 is not above 0").arg(timeDelta);
    return {};
}

std::shared_ptr<TEVSensorHistory> TEVSensorHistory::createFromArchivedFields(quint32 count, double timeDelta,
                                                                             const std::vector<qint32>& archived,
                                                                             qint32 index, const QDateTime& date,
                                                                             QString* failure)
{
    if (index < 0 || quint32(index) >= count) {
        *failure = QStringLiteral("index %1 outside capacity %2").arg(index).arg(count);
        return nullptr;
    }
    if (!date.isValid()) {
        *failure = QStringLiteral("no valid date");
        return nullptr;
    }

    std::shared_ptr<TEVSensorHistory> history(new TEVSensorHistory(count, timeDelta));
    for (quint64 index = 0; index < count; ++index)
        history->setSlot(index, archived[size_t(index)]);
    history->currentIndex_ = index;

    // Move the values back in time by the whole steps that passed while the history lay in the archive.
    const QDateTime now = platform::currentDate();
    const double elapsed = secondsBetween(date, now);
    history->currentTime_ = now;
    if (timeDelta >= elapsed)
        history->currentTime_ = date;
    else
        history->discardOldestValuesWithCount(stepsBounded(std::trunc(elapsed / timeDelta), count));
    return history;
}
