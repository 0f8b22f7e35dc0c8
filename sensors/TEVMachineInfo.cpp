#include "sensors/TEVMachineInfo.h"

#include "framework/CDP.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "platform/host/CpuInfo.h"
#include "platform/host/CpuTopology.h"
#include "platform/host/DmiIdentity.h"
#include "platform/host/MemoryInfo.h"
#include "platform/host/NetworkHardwareAddress.h"
#include "platform/host/SystemIdentity.h"
#include "sensors/TEVIORegistryEntry.h"
#include "sensors/TEVSMBIOSInfo.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <cxxabi.h>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <typeinfo>

namespace {

constexpr auto kClassName = "TEVMachineInfo";

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("NSObject"), 0,
    [](platform::Coder& coder) -> platform::ObjectRef { return TEVMachineInfo::createWithCoder(coder); });

// --- Production date tables ----------------------------------------------------------------------

// Year characters in pairs: the first of a pair is the first half of its year digit, the second the second.
constexpr char16_t kYearTable[] = u"CDFGHJKLMNPQRSTVWXYZ";
// Week characters with the values 1 to 27 in order.
constexpr char16_t kWeekTable[] = u"123456789CDFGHJKLMNPQRTVWXY";

int tableIndex(const char16_t* table, QChar c)
{
    for (int i = 0; table[i]; ++i) {
        if (table[i] == c.unicode())
            return i;
    }
    return -1;
}

// The value of the leading decimal digits, 0 when there are none.
qint64 leadingNumber(QStringView text)
{
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// --- Localised texts ---------------------------------------------------------------------------

QString localized(const char* english)
{
    const QString key = QString::fromUtf8(english);
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key, key, QStringLiteral("MachineInfo")) : key;
}

// The printf conversions of a format ("%llu", "%u", "%@", ...) in order; "%%" is no conversion.
QStringList conversions(const QString& format)
{
    static const QRegularExpression pattern(QStringLiteral("%(%|l{0,2}[udx]|@)"));
    QStringList found;
    for (auto it = pattern.globalMatch(format); it.hasNext();) {
        const QString conversion = it.next().captured(1);
        if (conversion != QLatin1String("%"))
            found.append(conversion);
    }
    return found;
}

// Fills the localised form of `english` with the arguments, already rendered as text. A translation whose
// conversions differ from the English ones would print garbage or read missing arguments: the English
// format is used instead.
QString formatLocalized(const char* english, const QStringList& arguments)
{
    const QString englishFormat = QString::fromUtf8(english);
    QString format = localized(english);
    if (conversions(format) != conversions(englishFormat))
        format = englishFormat;
    static const QRegularExpression pattern(QStringLiteral("%(%|l{0,2}[udx]|@)"));
    QString out;
    qsizetype position = 0;
    qsizetype next = 0;
    for (auto it = pattern.globalMatch(format); it.hasNext();) {
        const auto match = it.next();
        out.append(QStringView(format).mid(position, match.capturedStart() - position));
        out.append(match.captured(1) == QLatin1String("%") ? QStringLiteral("%") : arguments.value(next++));
        position = match.capturedEnd();
    }
    out.append(QStringView(format).mid(position));
    return out;
}

QString number(quint64 value) { return QString::number(value); }

// A size of 0 is one the host did not tell (a virtual machine, a kernel without cache folders).
QString cacheSizeText(quint64 bytes)
{
    return bytes == 0 ? localized("unknown") : CDP::displayTextForMemorySize(bytes);
}

// The locale's medium date style: its long format without the weekday and with abbreviated month names
// ("Oct 15, 2018", "15. Okt. 2018").
QString mediumDateText(const QDateTime& date)
{
    const QLocale locale;
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QLatin1String("MMMM"), QLatin1String("MMM"));
    return locale.toString(date.toLocalTime().date(), format.trimmed());
}

// "platform::SequentialArchiver" → "SequentialArchiver".
QString coderClassName(const platform::Coder& coder)
{
    int status = 0;
    char* demangled = abi::__cxa_demangle(typeid(coder).name(), nullptr, nullptr, &status);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled : typeid(coder).name());
    std::free(demangled);
    return name.section(QLatin1String("::"), -1);
}

std::optional<QVariant> attributeList()
{
    // The list never changes while the program runs.
    static const std::optional<QVariant> list = []() -> std::optional<QVariant> {
        const auto bundle = platform::Bundle::forProgram(QStringLiteral("Kelvaro"));
        const auto path = bundle ? bundle->pathForResource(QStringLiteral("MachineAttributes"), QStringLiteral("plist"))
                                 : std::nullopt;
        if (!path)
            return std::nullopt;
        QFile file(*path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        const auto result = platform::readPropertyList(file.readAll());
        if (!result.value.isValid())
            return std::nullopt;
        return result.value;
    }();
    return list;
}

std::optional<QVariantMap> localizableEntry(const QVariantMap& list, const QString& modelCode)
{
    const auto entry = platform::values::toDictionary(list.value(modelCode));
    if (!entry)
        return std::nullopt;
    return platform::values::toDictionary(entry->value(QStringLiteral("_LOCALIZABLE_")));
}

QString stringEntry(const QVariantMap& dictionary, const QString& key)
{
    return platform::values::toString(dictionary.value(key)).value_or(QString());
}

} // namespace

// --- Class operations --------------------------------------------------------------------------------

std::shared_ptr<const TEVMachineInfo> TEVMachineInfo::sharedMachineInfo()
{
    static const std::shared_ptr<const TEVMachineInfo> shared = std::make_shared<const TEVMachineInfo>();
    return shared;
}

bool TEVMachineInfo::getProductionWeek(qint64* week, qint64* year, const QString& serialNumber)
{
    if (serialNumber.isEmpty() || serialNumber.startsWith(fallBackSerialNumberPrefix()))
        return false;
    qint64 yearDigit = 0;
    qint64 weekNumber = 0;
    if (serialNumber.size() == 12) {
        const int yearIndex = tableIndex(kYearTable, serialNumber[3]);
        if (yearIndex < 0)
            return false;
        const int weekIndex = tableIndex(kWeekTable, serialNumber[4]);
        if (weekIndex < 0)
            return false;
        yearDigit = yearIndex / 2;
        weekNumber = (yearIndex % 2 ? 26 : 0) + weekIndex + 1;
    } else if (serialNumber.size() == 11) {
        const QStringView digits = QStringView(serialNumber).mid(2, 3);
        yearDigit = leadingNumber(digits.left(1));
        weekNumber = leadingNumber(digits.mid(1));
    } else {
        return false;
    }
    const qint64 currentYear = platform::currentDate().toLocalTime().date().year();
    const qint64 candidate = yearDigit + currentYear / 10 * 10;
    if (week)
        *week = weekNumber;
    if (year)
        *year = candidate > currentYear ? candidate - 10 : candidate;
    return true;
}

QDateTime TEVMachineInfo::dateForAppleProductionWeek(qint64 week, qint64 year)
{
    if (year < 1 || year > 9999 || week < -1000 || week > 1000)
        return {};
    const QDate newYear(int(year), 1, 1);
    // Qt numbers Monday 1 to Sunday 7; the week holding 1 January starts on the Sunday before it.
    const QDate firstWeek = newYear.addDays(-(newYear.dayOfWeek() % 7));
    const QDate start = firstWeek.addDays((week - 1) * 7);
    return QDateTime(start, QTime(0, 0), Qt::LocalTime).toUTC();
}

bool TEVMachineInfo::getLocalizedMarketingName(QString* marketingName, QString* description, const QString& modelCode)
{
    if (modelCode.isEmpty())
        return false;
    const auto list = attributeList();
    return list && getLocalizedMarketingName(marketingName, description, modelCode, *list);
}

bool TEVMachineInfo::getLocalizedMarketingName(QString* marketingName, QString* description, const QString& modelCode,
                                               const QVariant& attributes)
{
    if (modelCode.isEmpty())
        return false;
    const auto list = platform::values::toDictionary(attributes);
    if (!list || list->isEmpty())
        return false;
    auto localizable = localizableEntry(*list, modelCode);
    if (!localizable)
        return false;
    // The two mid-2012 MacBook Pro models have been listed under each other's code.
    if (modelCode.startsWith(QLatin1String("MacBookPro9,"))) {
        const QString model = stringEntry(*localizable, QStringLiteral("marketingModel"));
        if (modelCode.endsWith(QLatin1String("9,1")) && model.contains(QLatin1String("13")))
            localizable = localizableEntry(*list, QStringLiteral("MacBookPro9,2"));
        else if (modelCode.endsWith(QLatin1String("9,2")) && model.contains(QLatin1String("15")))
            localizable = localizableEntry(*list, QStringLiteral("MacBookPro9,1"));
        if (!localizable)
            return false;
    }
    const QString name = stringEntry(*localizable, QStringLiteral("marketingModel"));
    const QString text = stringEntry(*localizable, QStringLiteral("description"));
    if (marketingName)
        *marketingName = name;
    if (description)
        *description = text;
    return !name.isEmpty() && !text.isEmpty();
}

// --- Collection ------------------------------------------------------------------------------------

TEVMachineInfo::TEVMachineInfo()
{
    collect(*platform::HostRoot::current(), platform::IORegistry::current());
}

TEVMachineInfo::TEVMachineInfo(const platform::HostRoot& root, Registry registry)
{
    collect(root, registry ? registry : platform::IORegistry::empty());
}

void TEVMachineInfo::collect(const platform::HostRoot& root, const Registry& registry)
{
    collectProcessor(root);
    collectIdentity(root, registry);
    collectOperatingSystem(root);
    preReleaseOSInfo_ = {{QStringLiteral("IsPreReleaseOS"), platform::values::fromBool(false)}};
    if (const auto platformEntry
        = TEVIORegistryEntry::registryEntryInPlane(QStringLiteral("IODeviceTree"), QStringLiteral("/efi/platform"), registry)) {
        if (const auto properties = platformEntry->properties()) {
            if (const auto data = platform::values::toData(properties->value(QStringLiteral("device-colors"))))
                deviceColorData_ = *data;
        }
    }
    mayNotReflectLocalMachine_ = false;
}

void TEVMachineInfo::collectProcessor(const platform::HostRoot& root)
{
    using platform::MemoryInfo;
    const auto cpu = platform::CpuInfo::read(root);
    const auto topology = platform::CpuTopology::read(root);
    // /proc/cpuinfo lists the online processors only, so it stands in for both counts.
    if (const auto present = topology.presentCount ? topology.presentCount : cpu ? std::optional(cpu->processorCount) : std::nullopt)
        processorCount_ = quint64(*present);
    if (const auto online = topology.onlineCount ? topology.onlineCount : cpu ? std::optional(cpu->processorCount) : std::nullopt)
        activeProcessorCount_ = quint64(*online);
    if (const auto packages = topology.packageCount ? topology.packageCount : cpu ? cpu->packageCount : std::nullopt)
        processorChipCount_ = quint64(*packages);
    if (const auto cores = topology.coreCount ? topology.coreCount : cpu ? cpu->coreCount : std::nullopt)
        physicalCoreCount_ = quint64(*cores);
    if (topology.threadsPerCore)
        isProcessorMultithreaded_ = *topology.threadsPerCore > 1;
    else
        isProcessorMultithreaded_ = physicalCoreCount_ > 0 && processorCount_ > physicalCoreCount_;

    if (cpu) {
        processorVendor_ = cpu->vendor;
        processorBrand_ = cpu->brand;
        processorFamilyCode_ = quint8(cpu->family.value_or(0));
        processorModelCode_ = quint8(cpu->model.value_or(0));
        processorStepping_ = quint8(cpu->stepping.value_or(0));
        processorSignature_ = cpu->signature().value_or(0);
        if (cpu->physicalAddressBits)
            sizeAddressableRAM_ = quint64(1) << (*cpu->physicalAddressBits % 64);
        if (cpu->virtualAddressBits)
            sizeAddressableVM_ = quint64(1) << (*cpu->virtualAddressBits % 64);
    }
    if (topology.frequency)
        processorFrequency_ = *topology.frequency;
    else if (cpu && cpu->megahertz && *cpu->megahertz < 1e9)
        processorFrequency_ = quint64(std::llround(*cpu->megahertz * 1e6));
    sizeL1InstructionCache_ = topology.l1InstructionCache.value_or(0);
    sizeL1DataCache_ = topology.l1DataCache.value_or(0);
    sizeL2Cache_ = topology.l2Cache.value_or(0);
    sizeL3Cache_ = topology.l3Cache.value_or(0);
    sizeRAM_ = MemoryInfo::installedBytes(root).value_or(0);
    sizeOptimumFreeRAM_ = MemoryInfo::optimumFreeBytes(root).value_or(0);
}

void TEVMachineInfo::collectIdentity(const platform::HostRoot& root, const Registry& registry)
{
    using platform::DmiIdentity;
    systemModelCode_ = DmiIdentity::field(root, QStringLiteral("product_name")).value_or(QString(""));

    systemSerialNumber_ = QStringLiteral("");
    logicBoardIdentifier_ = QStringLiteral("");
    if (const auto experts = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("IOPlatformExpertDevice"), registry)) {
        for (const auto& expert : *experts) {
            if (!expert->hasValueWithName(QStringLiteral("IOPlatformSerialNumber"))
                || !expert->hasValueWithName(QStringLiteral("board-id")))
                continue;
            const QString serial = expert->stringValueWithName(QStringLiteral("IOPlatformSerialNumber")).trimmed();
            // The serial number keys preferences and histories: a firmware placeholder is shared by many
            // computers, so it counts as none.
            if (!DmiIdentity::isPlaceholderSerialNumber(serial))
                systemSerialNumber_ = serial;
            logicBoardIdentifier_ = expert->stringValueWithName(QStringLiteral("board-id"));
            if (logicBoardIdentifier_.isNull())
                logicBoardIdentifier_ = QStringLiteral("");
            break;
        }
    }
    if (systemSerialNumber_.isEmpty()) {
        const auto interfaces = platform::NetworkHardwareAddress::permanentAddresses(root);
        systemSerialNumber_ = interfaces.empty()
            ? fallBackSerialNumberPrefix()
            : fallBackSerialNumberPrefix() + QLatin1Char('-') + QString::fromLatin1(interfaces.front().address.toHex());
    }

    systemUUID_ = DmiIdentity::productUuid(root);
    if (!systemUUID_)
        systemUUID_ = platform::SystemIdentity::applicationSpecificMachineId(
            root, QUuid(QStringLiteral("dcffddeb-f7a3-4f34-b26e-cad8bc17ef9e")));

    qint64 week = 0;
    qint64 year = 0;
    if (getProductionWeek(&week, &year, systemSerialNumber_))
        systemProductionDate_ = dateForAppleProductionWeek(week, year);

    QString marketingName;
    QString modelDescription;
    getLocalizedMarketingName(&marketingName, &modelDescription, systemModelCode_);
    systemMarketingName_ = marketingName.isEmpty() ? QStringLiteral("") : marketingName;
    systemModelDescription_ = modelDescription.isEmpty() ? QStringLiteral("") : modelDescription;

    computerName_ = platform::SystemIdentity::prettyHostname(root)
                        .value_or(platform::SystemIdentity::hostname(root).value_or(QStringLiteral("Macintosh")));

    systemFirmwareVersion_ = QStringLiteral("");
    if (const auto rom = TEVIORegistryEntry::registryEntryInPlane(QStringLiteral("IODeviceTree"), QStringLiteral("/rom"), registry)) {
        const QString version = rom->stringValueWithName(QStringLiteral("version")).trimmed();
        const QString date = rom->stringValueWithName(QStringLiteral("release-date")).trimmed();
        // Either part may be missing from the firmware tables; never print "(null)".
        if (!version.isEmpty() && !date.isEmpty())
            systemFirmwareVersion_ = QStringLiteral("%1 (%2)").arg(version, date);
        else if (!version.isEmpty() || !date.isEmpty())
            systemFirmwareVersion_ = version.isEmpty() ? date : version;
    }

    systemManagementControllerVersion_ = QStringLiteral("");
    if (const auto controllers = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("AppleSMC"), registry)) {
        for (const auto& controller : *controllers) {
            const QString version = controller->stringValueWithName(QStringLiteral("smc-version"));
            if (!version.isEmpty()) {
                systemManagementControllerVersion_ = version;
                break;
            }
        }
        if (systemManagementControllerVersion_.isEmpty()) {
            for (const auto& controller : *controllers) {
                const qint64 generation = controller->integerValueWithName(QStringLiteral("Generation"));
                if (generation != 0 && generation != -1) {
                    systemManagementControllerVersion_ = QStringLiteral("Gen %1").arg(generation);
                    break;
                }
            }
        }
    }
}

void TEVMachineInfo::collectOperatingSystem(const platform::HostRoot& root)
{
    using platform::SystemIdentity;
    const auto banner = SystemIdentity::kernelBanner(root);
    const auto kernelVersion = SystemIdentity::kernelValue(root, QStringLiteral("version"));
    if (banner || kernelVersion)
        kernelVersionSpecification_ = banner ? *banner : *kernelVersion;
    if (const auto type = SystemIdentity::kernelValue(root, QStringLiteral("ostype")))
        baseOperatingSystemName_ = *type;
    if (const auto release = SystemIdentity::kernelValue(root, QStringLiteral("osrelease"))) {
        baseOperatingSystemVersion_ = *release;
        kernelRevision_ = SystemIdentity::kernelVersionCode(*release).value_or(0);
    }
    const auto osRelease = SystemIdentity::osRelease(root);
    const QString buildId = osRelease ? osRelease->value(QStringLiteral("BUILD_ID")) : QString();
    if (!buildId.isEmpty())
        operatingSystemBuild_ = buildId;
    else if (kernelVersion)
        operatingSystemBuild_ = *kernelVersion;
    if (osRelease) {
        QString pretty = osRelease->value(QStringLiteral("PRETTY_NAME"));
        if (pretty.isEmpty())
            pretty = QStringList{osRelease->value(QStringLiteral("NAME")), osRelease->value(QStringLiteral("VERSION"))}
                         .join(QLatin1Char(' '))
                         .trimmed();
        if (!pretty.isEmpty())
            localizedOSVersionString_ = pretty;
    }
}

// --- Archiving -----------------------------------------------------------------------------------

void TEVMachineInfo::encodeWithCoder(platform::Coder& coder) const
{
    using namespace platform::values;
    if (!coder.allowsKeyedCoding()) {
        coder.failWithReason(QStringLiteral("%1: encoder class %2 does not support keyed coding.")
                                 .arg(className(), coderClassName(coder)));
        return;
    }
    // Unsigned fields travel as the two's complement in a signed 64-bit integer; peers read them back the same way.
    const auto integer = [&coder](quint64 value, const char* key) { coder.encodeInt64(qint64(value), QLatin1String(key)); };
    const auto string = [&coder](const QString& value, const char* key) {
        coder.encodeObject(value.isNull() ? QVariant() : fromString(value), QLatin1String(key));
    };
    coder.encodeInt64(1, QStringLiteral("codingVersion"));
    integer(processorCount_, "processorCount");
    integer(activeProcessorCount_, "activeProcessorCount");
    integer(processorChipCount_, "processorChipCount");
    integer(physicalCoreCount_, "physicalCoreCount");
    string(processorVendor_, "processorVendor");
    string(processorBrand_, "processorBrand");
    integer(processorFamilyCode_, "processorFamilyCode");
    integer(processorModelCode_, "processorModelCode");
    integer(processorStepping_, "processorStepping");
    integer(processorSignature_, "processorSignature");
    coder.encodeBool(isProcessorMultithreaded_, QStringLiteral("isProcessorMultithreaded"));
    integer(processorFrequency_, "processorFrequency");
    integer(sizeL1InstructionCache_, "sizeL1InstructionCache");
    integer(sizeL1DataCache_, "sizeL1DataCache");
    integer(sizeL2Cache_, "sizeL2Cache");
    integer(sizeL3Cache_, "sizeL3Cache");
    integer(sizeRAM_, "sizeRAM");
    integer(sizeOptimumFreeRAM_, "sizeOptimumFreeRAM");
    integer(sizeAddressableRAM_, "sizeAddressableRAM");
    integer(sizeAddressableVM_, "sizeAddressableVM");
    string(systemModelCode_, "systemModelCode");
    string(systemSerialNumber_, "systemSerialNumber");
    string(logicBoardIdentifier_, "logicBoardIdentifier");
    string(systemUUIDString(), "systemUUID");
    coder.encodeObject(systemProductionDate_.isValid() ? fromDate(systemProductionDate_) : QVariant(),
                       QStringLiteral("systemProductionDate"));
    string(systemMarketingName_, "systemMarketingName");
    string(systemModelDescription_, "systemModelDescription");
    string(computerName_, "computerName");
    string(systemFirmwareVersion_, "systemFirmwareVersion");
    string(systemManagementControllerVersion_, "systemManagementControllerVersion");
    string(kernelVersionSpecification_, "kernelVersionSpecification");
    coder.encodeInt64(kernelRevision_, QStringLiteral("kernelRevision"));
    string(baseOperatingSystemName_, "baseOperatingSystemName");
    string(baseOperatingSystemVersion_, "baseOperatingSystemVersion");
    string(operatingSystemBuild_, "operatingSystemBuild");
    string(localizedOSVersionString_, "localizedOSVersionString");
    coder.encodeObject(fromDictionary(preReleaseOSInfo_), QStringLiteral("PreReleaseOSInfo"));
    if (!deviceColorData_.isNull())
        coder.encodeObject(fromData(deviceColorData_), QStringLiteral("deviceColorData"));
}

std::shared_ptr<TEVMachineInfo> TEVMachineInfo::createWithCoder(platform::Coder& coder)
{
    using namespace platform::values;
    if (!coder.allowsKeyedCoding()) {
        coder.failWithReason(QStringLiteral("%1: decoder class %2 does not support keyed coding.")
                                 .arg(QLatin1String(kClassName), coderClassName(coder)));
        return nullptr;
    }
    std::shared_ptr<TEVMachineInfo> info(new TEVMachineInfo(Decoded{}));
    info->mayNotReflectLocalMachine_ = true;
    const auto integer = [&coder](const char* key) { return quint64(coder.decodeInt64ForKey(QLatin1String(key))); };
    const auto string = [&coder](const char* key) {
        return toString(coder.decodeObjectOfClasses({QStringLiteral("NSString")}, QLatin1String(key))).value_or(QString());
    };
    info->processorCount_ = integer("processorCount");
    info->activeProcessorCount_ = integer("activeProcessorCount");
    info->processorChipCount_ = integer("processorChipCount");
    info->physicalCoreCount_ = integer("physicalCoreCount");
    info->processorVendor_ = string("processorVendor");
    info->processorBrand_ = string("processorBrand");
    info->processorFamilyCode_ = quint8(integer("processorFamilyCode"));
    info->processorModelCode_ = quint8(integer("processorModelCode"));
    info->processorStepping_ = quint8(integer("processorStepping"));
    info->processorSignature_ = integer("processorSignature");
    info->isProcessorMultithreaded_ = coder.decodeBoolForKey(QStringLiteral("isProcessorMultithreaded"));
    info->processorFrequency_ = integer("processorFrequency");
    info->sizeL1InstructionCache_ = integer("sizeL1InstructionCache");
    info->sizeL1DataCache_ = integer("sizeL1DataCache");
    info->sizeL2Cache_ = integer("sizeL2Cache");
    info->sizeL3Cache_ = integer("sizeL3Cache");
    info->sizeRAM_ = integer("sizeRAM");
    info->sizeOptimumFreeRAM_ = integer("sizeOptimumFreeRAM");
    info->sizeAddressableRAM_ = integer("sizeAddressableRAM");
    info->sizeAddressableVM_ = integer("sizeAddressableVM");
    info->systemModelCode_ = string("systemModelCode");
    info->systemSerialNumber_ = string("systemSerialNumber");
    info->logicBoardIdentifier_ = string("logicBoardIdentifier");
    const QString uuidText = string("systemUUID");
    if (!uuidText.isEmpty()) {
        // A text that is no UUID gives none rather than failing the whole description.
        const QUuid uuid = QUuid::fromString(uuidText);
        if (!uuid.isNull() || uuidText == QLatin1String("00000000-0000-0000-0000-000000000000"))
            info->systemUUID_ = uuid;
    }
    info->systemProductionDate_
        = toDate(coder.decodeObjectOfClasses({QStringLiteral("NSDate")}, QStringLiteral("systemProductionDate")))
              .value_or(QDateTime());
    info->systemMarketingName_ = string("systemMarketingName");
    info->systemModelDescription_ = string("systemModelDescription");
    info->computerName_ = string("computerName");
    info->systemFirmwareVersion_ = string("systemFirmwareVersion");
    info->systemManagementControllerVersion_ = string("systemManagementControllerVersion");
    info->kernelVersionSpecification_ = string("kernelVersionSpecification");
    info->kernelRevision_ = coder.decodeInt64ForKey(QStringLiteral("kernelRevision"));
    info->baseOperatingSystemName_ = string("baseOperatingSystemName");
    info->baseOperatingSystemVersion_ = string("baseOperatingSystemVersion");
    info->operatingSystemBuild_ = string("operatingSystemBuild");
    info->localizedOSVersionString_ = string("localizedOSVersionString");
    info->preReleaseOSInfo_
        = toDictionary(coder.decodeObjectOfClasses({QStringLiteral("NSDictionary")}, QStringLiteral("PreReleaseOSInfo")))
              .value_or(QVariantMap());
    info->deviceColorData_
        = toData(coder.decodeObjectOfClasses({QStringLiteral("NSData")}, QStringLiteral("deviceColorData"))).value_or(QByteArray());
    if (coder.hasFailed())
        return nullptr;
    return info;
}

std::shared_ptr<TEVMachineInfo> TEVMachineInfo::copy() const
{
    const QByteArray archive = platform::KeyedArchiver::archivedDataWithRootObject(
        platform::values::fromObject(std::make_shared<TEVMachineInfo>(*this)));
    platform::UnarchiveOptions options;
    options.allowedClasses = {QString::fromLatin1(kClassName)};
    return platform::objectAs<TEVMachineInfo>(
        platform::values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(archive, options)));
}

// --- Local SMBIOS facts ------------------------------------------------------------------------------

namespace {

QString smbiosEntry(quint8 type, const QString& key)
{
    const auto reader = TEVSMBIOSInfo::systemManagementBIOSInformation();
    if (!reader)
        return {};
    const auto record = reader->recordForSMBIOSTypeCode(type);
    if (!record)
        return {};
    const auto text = platform::values::toString(record->value(key));
    if (!text)
        return {};
    const QString trimmed = text->trimmed();
    return trimmed.isNull() ? QStringLiteral("") : trimmed;
}

} // namespace

QString TEVMachineInfo::systemVendor() const
{
    if (mayNotReflectLocalMachine_)
        return QStringLiteral("");
    return smbiosEntry(1, QStringLiteral("Manufacturer"));
}

QString TEVMachineInfo::mainboardSerialNumber() const
{
    if (mayNotReflectLocalMachine_)
        return QStringLiteral("");
    return smbiosEntry(2, QStringLiteral("SerialNumber"));
}

QString TEVMachineInfo::description() const
{
    const auto yesNo = [](bool value) { return QString::fromLatin1(value ? "yes" : "no"); };
    const QString production = systemProductionDate_.isValid()
        ? QStringLiteral("week after %1").arg(mediumDateText(systemProductionDate_))
        : QStringLiteral("(null)");
    const QString colors = deviceColorData_.isNull()
        ? QStringLiteral("no")
        : QStringLiteral("yes (%1 raw bytes)").arg(deviceColorData_.size());
    const QString uuid = systemUUID_ ? systemUUIDString() : QStringLiteral("(null)");
    QString text;
    text += QStringLiteral("Processor count: %1, active: %2, chips: %3, cores: %4\n")
                .arg(processorCount_).arg(activeProcessorCount_).arg(processorChipCount_).arg(physicalCoreCount_);
    text += QStringLiteral("Processor vendor: '%1'\nProcessor brand: '%2'\n").arg(processorVendor_, processorBrand_);
    text += QStringLiteral("Processor family: %1, model %2, stepping %3, signature %4\n")
                .arg(processorFamilyCode_).arg(processorModelCode_).arg(processorStepping_).arg(processorSignature_);
    text += QStringLiteral("Processor SMT support: %1\n").arg(yesNo(isProcessorMultithreaded_));
    text += QStringLiteral("Processor clock frequency: %1\n").arg(processorFrequency_);
    text += QStringLiteral("Processor cache sizes: L1 Instructions: %1 L1 Data: %2 L2: %3 l3: %4\n")
                .arg(sizeL1InstructionCache_).arg(sizeL1DataCache_).arg(sizeL2Cache_).arg(sizeL3Cache_);
    text += QStringLiteral("RAM size: %1, optimum free: %2\n").arg(sizeRAM_).arg(sizeOptimumFreeRAM_);
    text += QStringLiteral("Addressable RAM: %1 VM: %2\n").arg(sizeAddressableRAM_).arg(sizeAddressableVM_);
    text += QStringLiteral("System model: '%1' serial number: '%2' logic board type: '%3'\n")
                .arg(systemModelCode_, systemSerialNumber_, logicBoardIdentifier_);
    text += QStringLiteral("System UUID: %1\n").arg(uuid);
    text += QStringLiteral("Production date: %1\n").arg(production);
    text += QStringLiteral("System name: '%1' ['%2']\n").arg(systemMarketingName_, systemModelDescription_);
    text += QStringLiteral("Computer name: '%1'\n").arg(computerName_);
    text += QStringLiteral("System ROM version: '%1'\n").arg(systemFirmwareVersion_);
    text += QStringLiteral("SMC version: '%1'\n").arg(systemManagementControllerVersion_);
    text += QStringLiteral("Kernel version specifier: '%1'\n").arg(kernelVersionSpecification_);
    text += QStringLiteral("Kernel revision: '%1'\n").arg(kernelRevision_);
    text += QStringLiteral("Base operating system: '%1'\n").arg(baseOperatingSystemPresentationString());
    text += QStringLiteral("OS version: '%1'\n").arg(localizedOSVersionString_);
    text += QStringLiteral("OS Build code: '%1'\n").arg(operatingSystemBuild_);
    text += QStringLiteral("Pre-Release Info: %1\n").arg(platform::describePropertyList(preReleaseOSInfo_));
    text += QStringLiteral("Device-specific color data: %1\n").arg(colors);
    text += QStringLiteral("(may not be local machine: %1)\n").arg(yesNo(mayNotReflectLocalMachine_));
    return text;
}

// --- Presentation texts ------------------------------------------------------------------------------

QString TEVMachineInfo::systemUUIDString() const
{
    return systemUUID_ ? systemUUID_->toString(QUuid::WithoutBraces).toUpper() : QString();
}

QString TEVMachineInfo::systemModelPresentationString() const
{
    if (systemMarketingName_.isEmpty())
        return systemModelCode_;
    return QStringLiteral("%1 (%2)").arg(systemMarketingName_, systemModelCode_);
}

QString TEVMachineInfo::baseOperatingSystemPresentationString() const
{
    return QStringLiteral("%1 %2").arg(baseOperatingSystemName_, baseOperatingSystemVersion_);
}

QString TEVMachineInfo::operatingSystemMarketingName() const
{
    const auto root = platform::HostRoot::current();
    if (const auto osRelease = platform::SystemIdentity::osRelease(*root)) {
        const QString name = osRelease->value(QStringLiteral("NAME")).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return platform::SystemIdentity::kernelValue(*root, QStringLiteral("ostype")).value_or(QStringLiteral("Linux"));
}

QString TEVMachineInfo::localizedOperatingSystemPresentationString() const
{
    // The local os-release says nothing about another computer: its name comes from its own description.
    const QString name = mayNotReflectLocalMachine_ ? describedOperatingSystemName() : operatingSystemMarketingName();
    // os-release's PRETTY_NAME usually starts with its NAME ("Debian GNU/Linux 12 (bookworm)").
    if (name.isEmpty() || localizedOSVersionString_.startsWith(name))
        return localizedOSVersionString_;
    return QStringLiteral("%1 %2").arg(name, localizedOSVersionString_);
}

QString TEVMachineInfo::describedOperatingSystemName() const
{
    // A Mac's text is "Version 10.15.7 (Build 19H2)"; its system took the name "macOS" with 10.12.
    if (baseOperatingSystemName_ == QLatin1String("Darwin") || localizedOSVersionString_.startsWith(QLatin1String("Version "))) {
        static const QRegularExpression version(QStringLiteral("(\\d+)\\.(\\d+)"));
        const QRegularExpressionMatch match = version.match(localizedOSVersionString_);
        if (!match.hasMatch())
            return {};
        const int major = match.captured(1).toInt();
        const int minor = match.captured(2).toInt();
        return major > 10 || (major == 10 && minor >= 12) ? QStringLiteral("macOS") : QStringLiteral("OS X");
    }
    // Other systems (os-release's PRETTY_NAME) name themselves in the text.
    return {};
}

QString TEVMachineInfo::localizedProductionDate() const
{
    if (!systemProductionDate_.isValid())
        return localized("unknown");
    return formatLocalized("Week after %@", {mediumDateText(systemProductionDate_)});
}

QString TEVMachineInfo::localizedProcessorCountSummary() const
{
    if (processorChipCount_ == 1) {
        return formatLocalized("%llu processors (%llu active) on %llu cores in one chip",
                               {number(processorCount_), number(activeProcessorCount_), number(physicalCoreCount_)});
    }
    return formatLocalized("%llu processors (%llu active) on %llu cores in %llu chips",
                           {number(processorCount_), number(activeProcessorCount_), number(physicalCoreCount_),
                            number(processorChipCount_)});
}

QString TEVMachineInfo::localizedProcessorTypeSummary() const
{
    return formatLocalized("Family %u, model %u, stepping %u. (Signature %llu)",
                           {number(processorFamilyCode_), number(processorModelCode_), number(processorStepping_),
                            number(processorSignature_)});
}

QString TEVMachineInfo::localizedSMTSupportDescription() const
{
    return localized(isProcessorMultithreaded_ ? "yes" : "no");
}

QString TEVMachineInfo::localizedClockFrequencyDescription() const
{
    return CDP::displayTextForFrequency(processorFrequency_);
}

QString TEVMachineInfo::localizedL1CacheDescription() const
{
    if (sizeL1InstructionCache_ == 0 && sizeL1DataCache_ == 0)
        return localized("unknown");
    return formatLocalized("I: %@, D: %@", {cacheSizeText(sizeL1InstructionCache_), cacheSizeText(sizeL1DataCache_)});
}

QString TEVMachineInfo::localizedL2CacheDescription() const
{
    return cacheSizeText(sizeL2Cache_);
}

QString TEVMachineInfo::localizedL3CacheDescription() const
{
    return cacheSizeText(sizeL3Cache_);
}

QString TEVMachineInfo::localizedPhysicalMemoryDescription() const
{
    return formatLocalized("%@, optimum free %@",
                           {CDP::displayTextForMemorySize(sizeRAM_), CDP::displayTextForMemorySize(sizeOptimumFreeRAM_)});
}

QString TEVMachineInfo::localizedAddressableMemoryDescription() const
{
    return formatLocalized("%@ physical memory, %@ virtual memory",
                           {CDP::displayTextForMemorySize(sizeAddressableRAM_),
                            CDP::displayTextForMemorySize(sizeAddressableVM_)});
}

QString TEVMachineInfo::localizedBaseSystemAndKernelRevisionDescription() const
{
    return formatLocalized("%@, kernel revision %lld",
                           {baseOperatingSystemPresentationString(), QString::number(kernelRevision_)});
}

QString TEVMachineInfo::systemModelCodeWithColorSpecification() const
{
    quint8 red = 0;
    quint8 green = 0;
    quint8 blue = 0;
    if (!getEnclosureRed(&red, &green, &blue, deviceColorData_))
        return systemModelCode_;
    return QStringLiteral("%1@%2=%3,%4,%5").arg(systemModelCode_, QStringLiteral("ECOLOR")).arg(red).arg(green).arg(blue);
}

QString TEVMachineInfo::deviceTypeCode() const
{
    static std::once_flag warned;
    std::call_once(warned, [] {
        platform::log(kClassName,
                      QStringLiteral("WARNING - API to determine device type for model code inaccessible!"));
    });
    return {};
}

QByteArray TEVMachineInfo::imageDataForMachinePicture() const
{
    // Without a device type there is no icon to look up.
    deviceTypeCode();
    return {};
}

QString TEVMachineInfo::alternativeIconFileNameFromDeviceTypeDeclaration(const std::optional<QVariantMap>& declaration)
{
    if (!declaration)
        return {};
    const auto path = platform::values::toString(declaration->value(QStringLiteral("_LSIconPath")));
    if (!path)
        return {};
    return path->section(QLatin1Char('/'), -1);
}

bool TEVMachineInfo::getEnclosureRed(quint8* red, quint8* green, quint8* blue, const QByteArray& deviceColorData)
{
    if (deviceColorData.size() != 16)
        return false;
    if (red)
        *red = quint8(deviceColorData[6]);
    if (green)
        *green = quint8(deviceColorData[5]);
    if (blue)
        *blue = quint8(deviceColorData[4]);
    return true;
}
