// S.M.A.R.T. pages of a drive: identify, data and threshold pages (512 bytes each, in that order; a short
// input leaves the rest zero, a page wholly missing fails its command), read through a one-drive registry
// the way a live drive is.

#include "tests/fuzz/FuzzSupport.h"

#include "platform/foundation/Values.h"
#include "platform/hardware/FixtureAtaSmartTransport.h"
#include "platform/registry/IORegistry.h"
#include "sensors/TEVSMARTStorageDevice.h"
#include "sensors/TEVSMARTTemperatureSensor.h"

using namespace platform;

namespace {

const QString kDrive = QStringLiteral("fuzz");

std::optional<QByteArray> page(const QByteArray& bytes, int index)
{
    const qsizetype start = qsizetype(index) * AtaSmartConnection::PageSize;
    if (start >= bytes.size())
        return std::nullopt;
    QByteArray result = bytes.mid(start, AtaSmartConnection::PageSize);
    result.append(QByteArray(AtaSmartConnection::PageSize - result.size(), '\0'));
    return result;
}

std::shared_ptr<TEVIORegistryEntry> driveEntry()
{
    static const auto registry = [] {
        IORegistry::Builder builder;
        const int device = builder.add(IORegistry::RootIndex,
            {QStringLiteral("IOAHCIBlockStorageDevice"), QStringLiteral("IOBlockStorageDevice"), QStringLiteral("IOService")},
            QStringLiteral("IOAHCIBlockStorageDevice"),
            std::make_shared<StaticIORegistryPropertySource>(QVariantMap{{QStringLiteral("SMART Capable"), values::fromBool(true)}}));
        builder.add(device, {QStringLiteral("IOMedia"), QStringLiteral("IOService")}, QStringLiteral("IOMedia"),
            std::make_shared<StaticIORegistryPropertySource>(QVariantMap{{QStringLiteral("BSD Name"), kDrive}}));
        return builder.finish();
    }();
    const auto entries = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("IOAHCIBlockStorageDevice"), registry);
    return entries && !entries->empty() ? entries->front() : nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    const QByteArray bytes = fuzz::bytesOf(data, size);
    FixtureAtaSmartTransport::Drive drive;
    drive.identify = page(bytes, 0);
    drive.data = page(bytes, 1);
    drive.thresholds = page(bytes, 2);
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    transport->setDrive(kDrive, drive);

    const auto smart = TEVSMARTStorageDevice::createWithIORegistryEntry(driveEntry(), false, transport);
    if (!smart)
        return 0;
    QMap<quint8, QVariantMap> attributes;
    QMap<quint8, quint8> thresholds;
    if (smart->getByIDAllSMARTAttributes(&attributes, &thresholds)) {
        for (const QVariantMap& attribute : attributes)
            fuzz::walk(attribute);
    }
    (void)smart->productName();
    (void)smart->serialNumber();
    (void)smart->currentSMARTStatus();
    if (const auto sensor = TEVSMARTTemperatureSensor::createWithSMARTStorageDevice(smart))
        (void)sensor->rawValue();
    return 0;
}
