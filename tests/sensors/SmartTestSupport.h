#pragma once
// Drives for the S.M.A.R.T. tests: pages built in code, a one-drive registry, and a simulated computer that
// gives the current registry an "IOHIDSystem" entry whose idle time the test sets.

#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/AtaSmartTransport.h"
#include "platform/hardware/FixtureAtaSmartTransport.h"
#include "platform/hardware/IdleTimeSource.h"
#include "platform/registry/IORegistry.h"
#include "sensors/HIDIdleTime.h"
#include "sensors/TEVIORegistryEntry.h"
#include "sensors/TEVSMARTStorageDevice.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace smarttest {

// Everything the running test logged, in order.
inline QString logText()
{
    return kelvaro::test::log().lines().join(QString());
}

struct Attribute {
    quint8 id;
    quint8 current = 100;
    quint8 worst = 100;
    std::array<quint8, 6> raw{};
    quint16 flags = 0x0032;
};

// A data page with these records in slots 0, 1, ... (a record with id 0 leaves its slot empty).
inline QByteArray dataPage(const std::vector<Attribute>& attributes)
{
    QByteArray page(512, '\0');
    page[0] = 0x10;
    for (size_t i = 0; i < attributes.size(); ++i) {
        const Attribute& a = attributes[i];
        char* r = page.data() + 2 + 12 * int(i);
        r[0] = char(a.id);
        r[1] = char(a.flags & 0xff);
        r[2] = char(a.flags >> 8);
        r[3] = char(a.current);
        r[4] = char(a.worst);
        for (int b = 0; b < 6; ++b)
            r[5 + b] = char(a.raw[size_t(b)]);
    }
    return page;
}

inline QByteArray temperaturePage(int celsius)
{
    return dataPage({{1}, {194, 100, 100, {quint8(celsius & 0xff), quint8((celsius >> 8) & 0xff), 0x0f, 0, 0x37, 0}}});
}

inline QByteArray thresholdPage(const std::vector<std::pair<quint8, quint8>>& thresholds)
{
    QByteArray page(512, '\0');
    page[0] = 0x10;
    for (size_t i = 0; i < thresholds.size(); ++i) {
        page[2 + 12 * int(i)] = char(thresholds[i].first);
        page[3 + 12 * int(i)] = char(thresholds[i].second);
    }
    return page;
}

// IDENTIFY DEVICE with the texts in their fields, each pair of characters swapped as the drive stores them.
inline QByteArray identifyPage(const QByteArray& model, const QByteArray& serial)
{
    QByteArray page(512, '\0');
    const auto put = [&page](int offset, int length, QByteArray text) {
        text = text.leftJustified(length, ' ', true);
        for (int i = 0; i < length; i += 2) {
            page[offset + i] = text[i + 1];
            page[offset + i + 1] = text[i];
        }
    };
    put(TEVATADeviceIdentification::SerialNumberOffset, TEVATADeviceIdentification::SerialNumberLength, serial);
    put(TEVATADeviceIdentification::ModelNumberOffset, TEVATADeviceIdentification::ModelNumberLength, model);
    return page;
}

inline platform::FixtureAtaSmartTransport::Drive drive(int celsius = 40)
{
    platform::FixtureAtaSmartTransport::Drive d;
    d.identify = identifyPage("TEST DRIVE 1000", "SN-0001");
    d.data = temperaturePage(celsius);
    d.thresholds = thresholdPage({{1, 6}, {194, 0}});
    return d;
}

// One drive entry of `classes` with `properties` and an "IOMedia" child carrying `bsdName`.
inline std::shared_ptr<const platform::IORegistry> driveRegistry(
    const QVariantMap& properties = {{QStringLiteral("SMART Capable"), true}}, const QString& bsdName = QStringLiteral("sda"),
    const QStringList& classes = {QStringLiteral("IOAHCIBlockStorageDevice"), QStringLiteral("IOBlockStorageDevice")})
{
    platform::IORegistry::Builder builder;
    const int device = builder.add(platform::IORegistry::RootIndex, classes, classes.front(),
                                   std::make_shared<platform::StaticIORegistryPropertySource>(properties));
    builder.add(device, {QStringLiteral("IOMedia")}, QStringLiteral("IOMedia"),
                std::make_shared<platform::StaticIORegistryPropertySource>(
                    QVariantMap{{QStringLiteral("BSD Name"), bsdName}}));
    return builder.finish();
}

inline std::shared_ptr<TEVIORegistryEntry> firstDriveEntry(const std::shared_ptr<const platform::IORegistry>& registry)
{
    return TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("IOBlockStorageDevice"), registry)->front();
}

inline std::shared_ptr<TEVSMARTStorageDevice> device(const std::shared_ptr<platform::FixtureAtaSmartTransport>& transport,
                                                     const QString& bsdName = QStringLiteral("sda"))
{
    return TEVSMARTStorageDevice::createWithIORegistryEntry(firstDriveEntry(driveRegistry({{QStringLiteral("SMART Capable"), true}}, bsdName)),
                                                            false, transport);
}

// Selects a bare simulated computer with a HID system and installs an idle time the test controls.
class FakeIdleTime {
public:
    FakeIdleTime() : source_(std::make_shared<platform::FixedIdleTimeSource>())
    {
        EXPECT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("root")));
        const auto loaded = platform::SimulatedComputer::fromDictionary({{QStringLiteral("IdleTime"), 0.0}}, dir_.path());
        EXPECT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        platform::IdleTimeSource::setShared(source_);
        resetHIDSystemRegistryEntryCacheForTesting();
    }
    ~FakeIdleTime()
    {
        resetHIDSystemRegistryEntryCacheForTesting();
        platform::IdleTimeSource::setShared(nullptr);
        platform::SimulatedComputer::setCurrent(nullptr);
    }
    void setSeconds(double seconds) { source_->setIdleSeconds(seconds); }
    void setUnknown() { source_->setIdleNanoseconds(std::nullopt); }

private:
    QTemporaryDir dir_;
    std::shared_ptr<platform::FixedIdleTimeSource> source_;
};

} // namespace smarttest
