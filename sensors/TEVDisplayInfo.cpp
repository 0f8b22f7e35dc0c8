#include "sensors/TEVDisplayInfo.h"

#include "framework/TEVTimeUtilities.h"
#include "platform/foundation/HostRoot.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace values = platform::values;

namespace {

constexpr quint8 kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr int kDescriptorSlots[] = {72, 90, 108};
constexpr qint64 kTagSerial = 0xFF;
constexpr qint64 kTagComment = 0xFE;
constexpr qint64 kTagProductName = 0xFC;
// Override files are tiny property lists.
constexpr qsizetype kMaxOverrideBytes = 1024 * 1024;

quint16 manufacturerCode(const TEVDisplayInfo::EDIDBlock& edid)
{
    return quint16(edid[8] << 8 | edid[9]);
}

quint16 productCode(const TEVDisplayInfo::EDIDBlock& edid)
{
    return quint16(edid[10] | edid[11] << 8);
}

quint32 numericSerial(const TEVDisplayInfo::EDIDBlock& edid)
{
    return quint32(edid[12]) | quint32(edid[13]) << 8 | quint32(edid[14]) << 16 | quint32(edid[15]) << 24;
}

QString orEmpty(const QString& text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

} // namespace

TEVDisplayInfo::TEVDisplayInfo(QByteArray edid, QVariantMap description)
    : edid_(std::move(edid)), description_(std::move(description))
{
}

TEVDisplayInfo::DisplayList TEVDisplayInfo::allDisplays(TEVIORegistryEntry::Registry registry)
{
    DisplayList displays;
    const auto entries = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("IODisplay"), std::move(registry));
    if (!entries)
        return displays;
    for (const auto& entry : *entries) {
        if (!entry->hasValueWithName(QStringLiteral("IODisplayEDID")))
            continue;
        if (auto display = create(*entry))
            displays.append(std::move(display));
    }
    return displays;
}

std::shared_ptr<TEVDisplayInfo> TEVDisplayInfo::create(const TEVIORegistryEntry& entry)
{
    const auto properties = entry.properties();
    if (!properties)
        return nullptr;
    const auto edid = values::toData(properties->value(QStringLiteral("IODisplayEDID")));
    return edid ? createWithEDID(*edid) : nullptr;
}

std::shared_ptr<TEVDisplayInfo> TEVDisplayInfo::createWithEDID(const QByteArray& edid)
{
    if (edid.size() < qsizetype(sizeof(EDIDBlock)))
        return nullptr;
    EDIDBlock block;
    std::memcpy(block.data(), edid.constData(), block.size());
    if (!std::equal(std::begin(kHeader), std::end(kHeader), block.begin()))
        return nullptr;
    if (std::accumulate(block.begin(), block.end(), 0u) % 256 != 0)
        return nullptr;

    const quint16 manufacturer = manufacturerCode(block);
    const quint16 product = productCode(block);
    QVariantMap description;
    description.insert(QStringLiteral("ManufacturerIDCode"), values::fromUnsigned(manufacturer));
    description.insert(QStringLiteral("ProductID"), values::fromUnsigned(product));
    description.insert(QStringLiteral("VersionNumber"), values::fromUnsigned(block[18]));
    description.insert(QStringLiteral("RevisionNumber"), values::fromUnsigned(block[19]));
    description.insert(QStringLiteral("ManufacturerID"), values::fromString(manufacturerIDForCode(manufacturer)));
    bool modelDate = false;
    const QDateTime date = dateForWeekCode(block[16], block[17], &modelDate);
    description.insert(modelDate ? QStringLiteral("ModelDate") : QStringLiteral("ManufacturingDate"), values::fromDate(date));
    description.insert(QStringLiteral("SerialNumber"), values::fromString(bestSerialNumberFromEDID(&block)));
    description.insert(QStringLiteral("ProductName"), values::fromString(productNameFromEDID(&block)));
    description.insert(QStringLiteral("ProductNameFromOS"),
                       values::fromString(productNameSeenByOperatingSystemForVendorID(manufacturer, product)));
    description.insert(QStringLiteral("AdditionalComment"), values::fromString(alphanumericDataFromEDID(&block)));
    return std::make_shared<TEVDisplayInfo>(edid, description);
}

QString TEVDisplayInfo::description() const
{
    return QStringLiteral("<TEVDisplayInfo>: ") + platform::describePropertyList(description_) + QLatin1Char('\n');
}

TEVDisplayInfo::EDIDBlock TEVDisplayInfo::extendedDisplayIdenficationData() const
{
    EDIDBlock block{};
    std::memcpy(block.data(), edid_.constData(), std::min<size_t>(block.size(), size_t(edid_.size())));
    return block;
}

QString TEVDisplayInfo::manufacturerIDForCode(quint16 code)
{
    const auto letter = [](int bits) { return QLatin1Char(char((bits & 0x1F) | 0x40)); };
    return QString(letter(code >> 10)) + letter(code >> 5) + letter(code);
}

QDateTime TEVDisplayInfo::dateForWeekCode(quint8 week, quint8 year, bool* isModelDate)
{
    if (isModelDate)
        *isModelDate = week == 255;
    const int fullYear = 1990 + year;
    const int weekOfYear = week >= 1 && week <= 54 ? week : 1;
    std::optional<QDateTime> date = TEVTimeUtilities::dateForWeek(weekOfYear, fullYear, 1);
    if (!date)
        return QDateTime(QDate(1990, 1, 1), QTime(0, 0), Qt::LocalTime);
    const QDate first(fullYear, 1, 1);
    const QDate last(fullYear, 12, 31);
    const QDate day = std::clamp(date->date(), first, last);
    return QDateTime(day, QTime(0, 0), Qt::LocalTime);
}

QString TEVDisplayInfo::bestSerialNumberFromEDID(const EDIDBlock* edid)
{
    if (!edid)
        return QStringLiteral("");
    const QString text = stringFromDescriptorWithTag(kTagSerial, edid);
    if (!text.isEmpty())
        return text;
    // Unsigned: a serial with the top bit set is a large number, not a negative one.
    const quint32 serial = numericSerial(*edid);
    return serial != 0 ? QString::number(serial) : QStringLiteral("");
}

QString TEVDisplayInfo::productNameFromEDID(const EDIDBlock* edid)
{
    return orEmpty(stringFromDescriptorWithTag(kTagProductName, edid));
}

QString TEVDisplayInfo::alphanumericDataFromEDID(const EDIDBlock* edid)
{
    return orEmpty(stringFromDescriptorWithTag(kTagComment, edid));
}

QString TEVDisplayInfo::productNameSeenByOperatingSystemForVendorID(quint32 vendor, quint32 product)
{
    const QString path = QStringLiteral("/System/Library/Displays/Overrides/DisplayVendorID-%1/DisplayProductID-%2")
                             .arg(vendor, 0, 16)
                             .arg(product, 0, 16);
    const auto bytes = platform::HostRoot::current()->readFile(path, kMaxOverrideBytes);
    if (!bytes || bytes->isEmpty())
        return QStringLiteral("");
    const auto plist = values::toDictionary(platform::readPropertyList(*bytes).value);
    if (!plist)
        return QStringLiteral("");
    return values::toString(plist->value(QStringLiteral("DisplayProductName"))).value_or(QStringLiteral(""));
}

QString TEVDisplayInfo::stringFromDescriptorWithTag(qint64 tag, const EDIDBlock* edid)
{
    if (!edid)
        return {};
    for (const int slot : kDescriptorSlots) {
        const quint8* descriptor = edid->data() + slot;
        if (descriptor[0] != 0 || descriptor[1] != 0 || descriptor[3] != tag)
            continue;
        const char* text = reinterpret_cast<const char*>(descriptor + 5);
        qsizetype length = 0;
        while (length < 13 && text[length] != '\n' && text[length] != '\0')
            ++length;
        return length == 0 ? QStringLiteral("") : QString::fromLatin1(text, length);
    }
    return {};
}
