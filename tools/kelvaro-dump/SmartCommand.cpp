#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/Values.h"
#include "platform/hardware/FixtureAtaSmartTransport.h"
#include "platform/registry/IORegistry.h"
#include "sensors/TEVSMARTStorageDevice.h"
#include "sensors/TEVSMARTTemperatureSensor.h"

#include <QFile>

using namespace platform;

namespace dump {

namespace {

const QString kDriveName = QStringLiteral("saved");

std::optional<QByteArray> readPage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    const QByteArray bytes = file.read(AtaSmartConnection::PageSize + 1);
    if (bytes.size() != AtaSmartConnection::PageSize) {
        printError(QStringLiteral("%1: not a 512-byte page (%2 bytes)").arg(path).arg(bytes.size()));
        return std::nullopt;
    }
    return bytes;
}

} // namespace

int smartCommand(const QStringList& arguments)
{
    if (arguments.size() != 3)
        return 2;
    FixtureAtaSmartTransport::Drive drive;
    drive.identify = readPage(arguments[0]);
    drive.data = readPage(arguments[1]);
    drive.thresholds = readPage(arguments[2]);
    if (!drive.identify || !drive.data || !drive.thresholds)
        return 1;
    drive.failing.insert(FixtureAtaSmartTransport::Operation::Status); // the pages do not say
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    transport->setDrive(kDriveName, drive);

    // The pages stand behind a one-drive registry, so they are read the way a live drive is.
    IORegistry::Builder builder;
    const int device = builder.add(IORegistry::RootIndex,
        {QStringLiteral("IOAHCIBlockStorageDevice"), QStringLiteral("IOBlockStorageDevice"), QStringLiteral("IOService")},
        QStringLiteral("IOAHCIBlockStorageDevice"),
        std::make_shared<StaticIORegistryPropertySource>(QVariantMap{{QStringLiteral("SMART Capable"), values::fromBool(true)}}));
    builder.add(device, {QStringLiteral("IOMedia"), QStringLiteral("IOService")}, QStringLiteral("IOMedia"),
        std::make_shared<StaticIORegistryPropertySource>(QVariantMap{{QStringLiteral("BSD Name"), kDriveName}}));
    const auto registry = builder.finish();
    const auto entries = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("IOAHCIBlockStorageDevice"), registry);
    const auto smart = TEVSMARTStorageDevice::createWithIORegistryEntry(entries->front(), false, transport);
    QMap<quint8, QVariantMap> attributes;
    QMap<quint8, quint8> thresholds;
    if (!smart || !smart->getByIDAllSMARTAttributes(&attributes, &thresholds)) {
        printError(QStringLiteral("the pages could not be decoded"));
        return 1;
    }

    QVariantList attributeList;
    for (const QVariantMap& attribute : attributes)
        attributeList.append(attribute);
    QVariantMap thresholdMap;
    for (auto it = thresholds.cbegin(); it != thresholds.cend(); ++it)
        thresholdMap.insert(QString::number(it.key()), values::fromUnsigned(it.value()));
    const auto sensor = TEVSMARTTemperatureSensor::createWithSMARTStorageDevice(smart);
    printPropertyList(QVariantMap{
        {QStringLiteral("ProductName"), smart->productName()},
        {QStringLiteral("SerialNumber"), smart->serialNumber()},
        {QStringLiteral("Attributes"), attributeList},
        {QStringLiteral("Thresholds"), thresholdMap},
        {QStringLiteral("Temperature"), values::fromSigned(sensor ? sensor->rawValue() : -1)},
    });
    return 0;
}

} // namespace dump
