#pragma once
// TEVLCDOutputItem: one element of an LCD module's layout (a text, a line break, the date or time, a fact
// of this computer, an interface's IPv4 address, a sensor value in a fixed-width field or a ten-cell bar
// graph), rendered to text from the output cache on every tick. Held by the module descriptions of the LCD
// manager and by its tables; main thread only.

#include "app/model/ControllerLookups.h"
#include "platform/foundation/Archivable.h"

#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class TEVLCDOutputItem final : public platform::Archivable {
public:
    enum Type : qint32 {
        Text = 0,
        NewLine = 1,
        Date = 2,
        Time = 3,
        ComputerName = 4,
        KernelVersion = 5,
        OSVersion = 6,
        OSBuild = 7,
        IPv4Address = 8,
        SensorValue = 9,
        SensorBarGraph = 10,
    };
    static constexpr qint32 NumberOfStaticTypes = 8;
    static constexpr int BarGraphCells = 10;
    using OutputCache = ControllerLookups::OutputCache;

    TEVLCDOutputItem() = default;
    // Starts from the defaults and takes each key present; null for no entry.
    static std::shared_ptr<TEVLCDOutputItem> createWithPreferenceEntry(const std::optional<QVariantMap>& entry);
    // The sequential archive: type "i", text "@", length "C", precision "C", unit flag "c".
    static std::shared_ptr<TEVLCDOutputItem> createWithCoder(platform::Coder& coder);

    // Eight default items of the types 0 to 7, in code order.
    static QList<std::shared_ptr<TEVLCDOutputItem>> listOfPossibleStaticItems();
    // The type's name from the main bundle; null for a code outside 0 to 10.
    static QString staticPresentationForItemType(qint64 type);

    QVariantMap preferenceEntry() const;
    std::shared_ptr<TEVLCDOutputItem> copy() const;
    // Same type and text; the field settings do not count.
    bool isEqual(const TEVLCDOutputItem& other) const;

    qint32 type() const { return type_; }
    void setType(qint32 type) { type_ = type; }
    QString associatedString() const { return associatedString_; }
    void setAssociatedString(const QString& string) { associatedString_ = string; }
    quint8 maximumFieldLength() const { return maximumFieldLength_; }
    // Clamped to 0 to 255.
    void setMaximumFieldLength(qint64 length);
    quint8 valuePrecision() const { return valuePrecision_; }
    void setValuePrecision(qint64 precision);
    bool shouldDisplayUnit() const { return displaysUnit_; }
    void setShouldDisplayUnit(bool displaysUnit) { displaysUnit_ = displaysUnit; }

    // The item's text; null when it yields nothing (a sensor item without a cache, an unknown type).
    QString outputStringUsingCache(const OutputCache* cache) const;

    QString className() const override;
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    QString sensorValueText(const OutputCache& cache) const;
    QString barGraphText(const OutputCache& cache) const;

    qint32 type_ = Text;
    QString associatedString_ = QStringLiteral("");
    quint8 maximumFieldLength_ = 1;
    quint8 valuePrecision_ = 0;
    bool displaysUnit_ = true;
};
