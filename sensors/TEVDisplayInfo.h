#pragma once
// TEVDisplayInfo: one display of the local computer described from its EDID base block (manufacturer,
// product, date, serial number and text descriptors). Immutable once made; keeps only the EDID and the
// decoded dictionary. Made on the capture thread, readable from any.

#include "sensors/TEVIORegistryEntry.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <array>
#include <memory>
#include <optional>

class TEVDisplayInfo {
public:
    // The 128-byte EDID base block as the display sent it (multi-byte fields in their wire byte order).
    using EDIDBlock = std::array<quint8, 128>;
    using DisplayList = QList<std::shared_ptr<TEVDisplayInfo>>;

    // Every "IODisplay" service with "IODisplayEDID" that makes a record, in registry order.
    static DisplayList allDisplays(TEVIORegistryEntry::Registry registry = nullptr);
    // Null when the entry's "IODisplayEDID" is no data, shorter than 128 bytes or no valid base block.
    static std::shared_ptr<TEVDisplayInfo> create(const TEVIORegistryEntry& entry);
    // The same from the EDID bytes alone; only the first 128 bytes are decoded.
    static std::shared_ptr<TEVDisplayInfo> createWithEDID(const QByteArray& edid);

    const QByteArray& ediData() const { return edid_; }
    // "ManufacturerIDCode", "ProductID", "VersionNumber", "RevisionNumber", "ManufacturerID",
    // "ManufacturingDate" or "ModelDate", "SerialNumber", "ProductName", "ProductNameFromOS",
    // "AdditionalComment".
    const QVariantMap& displayDescription() const { return description_; }
    QString description() const;
    EDIDBlock extendedDisplayIdenficationData() const;

    // Three letters from the big-endian manufacturer word: 1 is "A", 26 is "Z".
    static QString manufacturerIDForCode(quint16 code);
    // Local midnight of the first day of the week within year 1990 + `year`, held inside that year (the
    // week starting in December of the year before gives 1 January, a week 53 or 54 past the year's end
    // gives 31 December). Week bytes outside 1..54 (0 unknown, 255 model year, the rest undefined) count
    // as week 1. `isModelDate`, when given, is set for week 255.
    static QDateTime dateForWeekCode(quint8 week, quint8 year, bool* isModelDate);
    // The serial-number descriptor's text, else the numeric serial in unsigned decimal when not 0, else "".
    static QString bestSerialNumberFromEDID(const EDIDBlock* edid);
    static QString productNameFromEDID(const EDIDBlock* edid);
    static QString alphanumericDataFromEDID(const EDIDBlock* edid);
    // "DisplayProductName" of the display override file of that vendor and product under the host root;
    // "" when there is none.
    static QString productNameSeenByOperatingSystemForVendorID(quint32 vendor, quint32 product);
    // The text (13 bytes from byte 5, cut at LF and NUL, Latin-1) of the first display descriptor in the
    // slots at bytes 72, 90 and 108 whose tag byte is `tag`; null when none matches or `edid` is null.
    static QString stringFromDescriptorWithTag(qint64 tag, const EDIDBlock* edid);

    TEVDisplayInfo(QByteArray edid, QVariantMap description); // use create

private:
    QByteArray edid_;
    QVariantMap description_;
};
