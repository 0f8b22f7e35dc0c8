#pragma once
// TEVSensorHistory: a ring buffer of raw sensor values (signed 64-bit fixed point, -1 = no value) at a fixed
// nominal time step, with the date of the newest slot. No lock: each history is created, filled and read on
// one thread (its capture thread); other threads only ever see the byte blocks it returns.
//
// Every sensor keeps a week of minutes all day long, so slots are stored in 32 bits (nearly every raw value
// fits; the few that do not are kept whole beside them), in blocks that are only allocated once they hold a
// value: a young history, or one of a sensor that never reads, costs next to nothing.

#include "platform/foundation/Archivable.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <unordered_map>
#include <vector>

namespace platform {
class Coder;
}

class TEVSensorHistory final : public platform::Archivable {
public:
    // Larger rings are refused: archives keep only 32 bits of the count, and no caller needs more than
    // a week of minutes (10080).
    static constexpr quint64 maximumValueCount = quint64(1) << 20;

    // 2 slots, a step of 1 s, every slot empty, the newest slot at index 0 dated now.
    TEVSensorHistory();
    // Null when the count is 0 or above maximumValueCount, or the step is not a finite value above 0.
    static std::shared_ptr<TEVSensorHistory> create(quint64 valueCount, double timeDelta);
    // Null when the archive does not hold a sound history.
    static std::shared_ptr<TEVSensorHistory> createWithCoder(platform::Coder& coder);
    // The same from a generic decoding of the archive ({"$class", "$0" count, ..., "$4" date}), with the
    // same checks; null (and why, when `reason` is given) for anything that is not a sound history.
    static std::shared_ptr<TEVSensorHistory> createWithArchivedValues(const QVariantMap& values,
                                                                      QString* reason = nullptr);

    quint64 valueCount() const { return valueCount_; }
    double timeDelta() const { return timeDelta_; }
    qint64 currentIndex() const { return currentIndex_; }
    QDateTime currentTime() const { return currentTime_; }

    // Stores a value taken now; see the .cpp for how gaps and a clock that went back are handled.
    void setPresentRawValue(qint64 rawValue);
    // The same with the clock read once by the caller, for a tick that stores into many histories.
    void setPresentRawValue(qint64 rawValue, const QDateTime& now);
    // The raw values (qint64, host byte order) from `date` up to the newest slot, oldest first; a null
    // QByteArray when the date is invalid, after the newest slot or more than valueCount steps back.
    QByteArray rawValueDataBetweenNowAndDate(const QDateTime& date) const;

    void discardAllValues();
    void discardOldestValuesWithCount(quint64 count);

    std::shared_ptr<TEVSensorHistory> copy() const;
    QString description() const;

    QString className() const override { return QStringLiteral("TEVSensorHistory"); }
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    TEVSensorHistory(quint64 valueCount, double timeDelta);
    // Null for a sound header, else why not.
    static QString checkHeader(quint32 count, double timeDelta);
    static std::shared_ptr<TEVSensorHistory> createFromArchivedFields(quint32 count, double timeDelta,
                                                                      const std::vector<qint32>& archived, qint32 index,
                                                                      const QDateTime& date, QString* failure);
    void advanceIndex();
    qint64 slot(quint64 index) const;
    void setSlot(quint64 index, qint64 rawValue);

    quint64 valueCount_;
    double timeDelta_;
    // Blocks of slotsPerBlock slots; an empty block reads -1 throughout.
    std::vector<std::vector<qint32>> blocks_;
    // Values outside 32 bits, by slot; their slot holds wideMarker.
    std::unordered_map<quint64, qint64> wideValues_;
    qint64 currentIndex_ = 0;
    QDateTime currentTime_;
};
