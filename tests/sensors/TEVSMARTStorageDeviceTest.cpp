#include "sensors/TEVSMARTStorageDevice.h"

#include "sensors/TEVSMARTTemperatureSensor.h"
#include "tests/sensors/SmartTestSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

using platform::FixtureAtaSmartTransport;
using namespace smarttest;

namespace {

// What skdump printed for one snapshot.
struct Reference {
    QString model;
    QString serial;
    bool healthKnown = false;
    struct Row {
        QString value, worst; // "n/a" when skdump thought the byte invalid
        int threshold = 0;
        QString raw; // the six raw bytes, stored order
    };
    QMap<int, Row> attributes;
    qint64 temperature = -1;
};

Reference parseReference(const QString& text)
{
    Reference reference;
    static const QRegularExpression row(QStringLiteral(R"(^\s*(\d+)\s+\S+\s+(\S+)\s+(\S+)\s+(\d+)\s+.*\s0x([0-9a-f]{12})\s)"));
    bool inTable = false;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Model: [")))
            reference.model = line.mid(8).chopped(1);
        else if (line.startsWith(QLatin1String("Serial: [")))
            reference.serial = line.mid(9).chopped(1);
        else if (line.startsWith(QLatin1String("SMART Disk Health Good: ")))
            reference.healthKnown = line.endsWith(QLatin1String("yes")) || line.endsWith(QLatin1String("no"));
        else if (line.startsWith(QLatin1String("Temperature: ")) && line.endsWith(QLatin1String(" C")))
            reference.temperature = qint64(line.mid(13).chopped(2).toDouble());
        else if (line.startsWith(QLatin1String("ID# ")))
            inTable = true;
        else if (inTable) {
            const auto m = row.match(line);
            if (m.hasMatch())
                reference.attributes.insert(m.captured(1).toInt(), {m.captured(2), m.captured(3), m.captured(4).toInt(), m.captured(5)});
        }
    }
    return reference;
}

QStringList corpusDrives()
{
    QStringList names;
    for (const QString& file : QDir(kelvaro::test::testDataPath("smart/pages")).entryList({"*.identify.bin"}, QDir::Files, QDir::Name))
        names.append(file.chopped(int(qstrlen(".identify.bin"))));
    return names;
}

std::vector<QString> corpusDriveVector()
{
    const QStringList names = corpusDrives();
    return {names.begin(), names.end()};
}

std::optional<QByteArray> page(const QString& drive, const char* kind)
{
    const QString path = kelvaro::test::testDataPath(QStringLiteral("smart/pages/%1.%2.bin").arg(drive, QLatin1String(kind)));
    if (!QFile::exists(path))
        return std::nullopt;
    return kelvaro::test::readFile(path);
}

// A byte skdump shows as a number, else "n/a".
QString shownByte(const QVariant& value)
{
    const quint64 byte = *platform::values::toUnsigned(value);
    return byte >= 1 && byte <= 0xFD ? QString::number(byte) : QStringLiteral("n/a");
}

class SMARTCorpus : public ::testing::TestWithParam<QString> {};

} // namespace

TEST_P(SMARTCorpus, DecodesLikeTheReference)
{
    const QString name = GetParam();
    const Reference reference = parseReference(QString::fromUtf8(
        kelvaro::test::readFile(kelvaro::test::testDataPath(QStringLiteral("smart/reference/%1.skdump.txt").arg(name)))));
    ASSERT_FALSE(reference.attributes.isEmpty());

    FixtureAtaSmartTransport::Drive d;
    d.identify = page(name, "identify");
    d.data = page(name, "smart-data");
    d.thresholds = page(name, "smart-thresholds");
    const auto status = page(name, "smart-status");
    if (status)
        d.thresholdExceeded = status->at(3) == 0;
    else
        d.failing.insert(FixtureAtaSmartTransport::Operation::Status);
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    transport->setDrive("sda", d);
    const auto drive = device(transport);
    ASSERT_TRUE(drive);

    EXPECT_EQ(drive->productName(), reference.model);
    EXPECT_EQ(drive->serialNumber(), reference.serial);
    EXPECT_EQ(drive->currentSMARTStatus(), !status ? TEVSMARTStorageDevice::StatusUnknown
                                           : d.thresholdExceeded ? TEVSMARTStorageDevice::StatusThresholdExceeded
                                                                 : TEVSMARTStorageDevice::StatusOK);
    EXPECT_EQ(reference.healthKnown, status.has_value());

    QMap<quint8, QVariantMap> attributes;
    QMap<quint8, quint8> thresholds;
    ASSERT_TRUE(drive->getByIDAllSMARTAttributes(&attributes, &thresholds));
    EXPECT_EQ(attributes.size(), reference.attributes.size());
    for (auto it = reference.attributes.cbegin(); it != reference.attributes.cend(); ++it) {
        SCOPED_TRACE(it.key());
        ASSERT_TRUE(attributes.contains(quint8(it.key())));
        const QVariantMap& a = attributes[quint8(it.key())];
        EXPECT_EQ(a.value("TEVSMARTAttributeRawValue").toString(), it->raw);
        EXPECT_EQ(shownByte(a.value("TEVSMARTAttributeCurrentValue")), it->value);
        EXPECT_EQ(shownByte(a.value("TEVSMARTAttributeWorstValue")), it->worst);
        EXPECT_EQ(thresholds.value(quint8(it.key()), 255), it->threshold);
        // The 64-bit raw value is the six bytes read little-endian.
        const QByteArray bytes = QByteArray::fromHex(it->raw.toLatin1());
        qint64 raw = 0;
        for (int i = 5; i >= 0; --i)
            raw = (raw << 8) | quint8(bytes[i]);
        EXPECT_EQ(a.value("TEVSMARTAttribute64BitRawValue").toLongLong(), raw);
    }

    // Drives without attribute 194 have no temperature (skdump falls back to other attributes only where
    // 194 is present too, so the two agree on every sample).
    EXPECT_EQ(drive->temperature(), reference.temperature);
    const auto sensor = TEVSMARTTemperatureSensor::createWithSMARTStorageDevice(drive);
    EXPECT_EQ(sensor ? sensor->rawValue() : -1, reference.temperature);
}

INSTANTIATE_TEST_SUITE_P(Samples, SMARTCorpus, ::testing::ValuesIn(corpusDriveVector()),
                         [](const ::testing::TestParamInfo<QString>& info) {
                             QString n = info.param;
                             return n.replace(QRegularExpression("[^A-Za-z0-9]"), "_").toStdString();
                         });

TEST(SMARTCorpusCoverage, EverySampleHasAReference)
{
    const QStringList drives = corpusDrives();
    EXPECT_EQ(drives.size(), 14);
    for (const QString& d : drives)
        EXPECT_TRUE(QFile::exists(kelvaro::test::testDataPath("smart/reference/" + d + ".skdump.txt"))) << d.toStdString();
}

TEST(TEVSMARTStorageDevice, IdentifyTextsAreSwappedFilteredAndTrimmed)
{
    const struct {
        QByteArray stored;
        QString expected;
    } rows[] = {
        {QByteArray("BADC    "), "ABCD"},
        {QByteArray("        "), ""},
        {QByteArray("\x01" "AB\x7f" "DC", 6), "ABCD"}, // swapped: A 01 7F B C D
        {QByteArray(" AB", 3), QString()},           // odd length
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored.toStdString());
        const QString text = ataIdentifyString(row.stored.constData(), row.stored.size());
        EXPECT_EQ(text, row.expected);
        EXPECT_EQ(text.isNull(), row.expected.isNull());
    }
    EXPECT_TRUE(ataIdentifyString(nullptr, 4).isNull());
    EXPECT_TRUE(printableTrimmedString(nullptr, 4).isNull());
    EXPECT_EQ(printableTrimmedString("\tA\x80" "B \n", 6), "AB");
}

TEST(TEVSMARTStorageDevice, TemperatureComesFromTheFirstRawWordOf194)
{
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    auto d = drive();
    d.data = dataPage({{194, 100, 100, {0x2A, 0x00, 0x14, 0x00, 0x37, 0x00}}, {190, 60, 50, {0x2B, 0, 0, 0, 0, 0}}});
    transport->setDrive("sda", d);
    const auto disk = device(transport);
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->temperature(), 42);
    disk->setSMARTTemperatureAttributeID(194 - 4); // 190: the whole raw value
    EXPECT_EQ(disk->temperature(), 0x2B);
    disk->setSMARTTemperatureAttributeID(194);
    d.data = dataPage({{194, 100, 100, {0x2A, 0x01, 0x14, 0x00, 0x37, 0x00}}});
    transport->setDrive("sda", d);
    EXPECT_EQ(disk->temperature(), 0x012A);
    d.data = dataPage({{9}});
    transport->setDrive("sda", d);
    EXPECT_EQ(disk->temperature(), -1);
}

TEST(TEVSMARTStorageDevice, AttributeLookupRefusesIdsOutsideAByteWithoutTouchingTheDrive)
{
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    transport->setDrive("sda", drive());
    const auto disk = device(transport);
    ASSERT_TRUE(disk);
    const int before = transport->commandCount("sda");
    TEVSMARTVendorAttribute attribute;
    TEVATASMARTThresholdValue threshold;
    for (const qint64 id : {qint64(0), qint64(256), qint64(-1)}) {
        EXPECT_FALSE(disk->getVendorSpecificSMARTAttribute(&attribute, id));
        EXPECT_FALSE(disk->getVendorSpecificSMARTThresholdValue(&threshold, id));
    }
    EXPECT_FALSE(disk->getVendorSpecificSMARTAttribute(nullptr, 194));
    EXPECT_EQ(transport->commandCount("sda"), before);
    ASSERT_TRUE(disk->getVendorSpecificSMARTThresholdValue(&threshold, 1));
    EXPECT_EQ(threshold.thresholdValue, 6);
}

TEST(TEVSMARTStorageDevice, AttributeWalkCoversEverySlotPastEmptyOnes)
{
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    auto d = drive();
    std::vector<Attribute> records(30, Attribute{0});
    records[0] = {1};
    records[1] = {0}; // an empty slot in the middle
    records[2] = {9, 95, 95, {0x10, 0x27, 0, 0, 0, 0}};
    records[29] = {194, 100, 100, {40, 0, 0, 0, 0, 0}};
    records[28] = {1, 50, 50}; // a repeated id: the first one counts
    d.data = dataPage(records);
    // Thresholds in another order than the attributes.
    d.thresholds = thresholdPage({{194, 0}, {1, 51}, {9, 7}});
    transport->setDrive("sda", d);
    const auto disk = device(transport);
    ASSERT_TRUE(disk);
    QMap<quint8, QVariantMap> attributes{{77, {}}};
    QMap<quint8, quint8> thresholds{{77, 1}};
    ASSERT_TRUE(disk->getByIDAllSMARTAttributes(&attributes, &thresholds));
    EXPECT_EQ(attributes.keys(), (QList<quint8>{1, 9, 194}));
    EXPECT_EQ(attributes[1].value("TEVSMARTAttributeCurrentValue").toULongLong(), 100u);
    EXPECT_EQ(attributes[9].value("TEVSMARTAttribute64BitRawValue"), platform::values::fromSigned(10000));
    EXPECT_EQ(attributes[9].value("TEVSMARTAttributeRawValue"), QVariant("102700000000"));
    EXPECT_EQ(thresholds, (QMap<quint8, quint8>{{1, 51}, {9, 7}, {194, 0}}));

    EXPECT_FALSE(disk->getByIDAllSMARTAttributes(nullptr, &thresholds));
    transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Thresholds, true);
    EXPECT_FALSE(disk->getByIDAllSMARTAttributes(&attributes, &thresholds));
    EXPECT_TRUE(attributes.isEmpty());
}

TEST(TEVSMARTStorageDevice, AttributeDictionaryKeepsEachFieldsKind)
{
    TEVSMARTVendorAttribute a = TEVSMARTVendorAttribute::fromBytes("\xc2\x22\x00\x64\x5f\x22\x00\xff\xff\x2f\x00\x00");
    const auto dictionary = TEVSMARTStorageDevice::dictionaryForVendorSpecificSMARTAttribute(&a);
    ASSERT_TRUE(dictionary);
    namespace values = platform::values;
    EXPECT_TRUE(values::strictlyEqual(dictionary->value("TEVSMARTAttributeID"), values::fromUnsigned(194)));
    EXPECT_TRUE(values::strictlyEqual(dictionary->value("TEVSMARTAttributeFlags"), values::fromUnsigned(0x22)));
    EXPECT_TRUE(values::strictlyEqual(dictionary->value("TEVSMARTAttributeCurrentValue"), values::fromUnsigned(100)));
    EXPECT_TRUE(values::strictlyEqual(dictionary->value("TEVSMARTAttributeWorstValue"), values::fromUnsigned(95)));
    EXPECT_TRUE(values::strictlyEqual(dictionary->value("TEVSMARTAttribute64BitRawValue"), values::fromSigned(0x2fffff0022)));
    EXPECT_EQ(dictionary->value("TEVSMARTAttributeRawValue"), QVariant("2200ffff2f00"));
    EXPECT_FALSE(TEVSMARTStorageDevice::dictionaryForVendorSpecificSMARTAttribute(nullptr));
    EXPECT_EQ(TEVSMARTStorageDevice::temperatureFromSMARTAttribute(&a, 194), 34);
}

TEST(TEVSMARTStorageDevice, SupportTestFollowsTheFirstRuleThatApplies)
{
    const QVariantMap ataFeatures20{{"ATA Features", platform::values::fromUnsigned(0x20)}};
    const struct {
        const char* name;
        QVariantMap properties;
        bool supported;
        const char* logged;
    } rows[] = {
        {"capable", {{"SMART Capable", true}}, true, nullptr},
        {"capable NO beats features", {{"SMART Capable", false}, {"Device Characteristics", ataFeatures20}}, false, nullptr},
        {"capable not a number", {{"SMART Capable", "yes"}}, false, "S.M.A.R.T. feature flag not accessible"},
        {"feature bit set", {{"Device Characteristics", ataFeatures20}}, true, nullptr},
        {"feature bit clear",
         {{"Device Characteristics", QVariantMap{{"ATA Features", platform::values::fromUnsigned(0x1F)}}}},
         false, "doesn't seem to support S.M.A.R.T. The feature code is 1f."},
        {"features not a number", {{"Device Characteristics", QVariantMap{{"ATA Features", "0x20"}}}}, false,
         "ATA features could not be processed"},
        {"no features", {{"Device Characteristics", QVariantMap{{"Product Name", "X"}}}}, false, "ATA features not accessible"},
        {"no description", {{"Size", 5}}, false, "device description not accessible"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        const auto entry = firstDriveEntry(driveRegistry(row.properties));
        EXPECT_EQ(TEVSMARTStorageDevice::storageDeviceEntryIndicatesSMARTSupport(entry.get(), false), row.supported);
        EXPECT_TRUE(logText().isEmpty());
        EXPECT_EQ(TEVSMARTStorageDevice::storageDeviceEntryIndicatesSMARTSupport(entry.get(), true), row.supported);
        if (row.logged)
            EXPECT_TRUE(logText().contains(QLatin1String(row.logged))) << logText().toStdString();
        else
            EXPECT_TRUE(logText().isEmpty());
    }
    EXPECT_FALSE(TEVSMARTStorageDevice::storageDeviceEntryIndicatesSMARTSupport(nullptr, true));
}

TEST(TEVSMARTStorageDevice, SataTestReadsThePhysicalInterconnect)
{
    const auto sata = firstDriveEntry(driveRegistry({{"Protocol Characteristics", QVariantMap{{"Physical Interconnect", "SATA"}}}}));
    const auto usb = firstDriveEntry(driveRegistry({{"Protocol Characteristics", QVariantMap{{"Physical Interconnect", "USB"}}}}));
    const auto none = firstDriveEntry(driveRegistry({}));
    EXPECT_TRUE(TEVSMARTStorageDevice::storageDeviceEntryIndicatesSATAConnect(sata.get(), true));
    EXPECT_FALSE(TEVSMARTStorageDevice::storageDeviceEntryIndicatesSATAConnect(usb.get(), true));
    EXPECT_FALSE(TEVSMARTStorageDevice::storageDeviceEntryIndicatesSATAConnect(none.get(), true));
    EXPECT_TRUE(logText().contains("has no or an unexpected interconnect specifier"));
    EXPECT_TRUE(logText().contains("does not specify protocol characteristics"));
}

TEST(TEVSMARTStorageDevice, EnableIsSentOnceAndADoubleOpenFailsLeavingTheFirstOpen)
{
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    transport->setDrive("sda", drive());
    const auto disk = device(transport);
    ASSERT_TRUE(disk);
    EXPECT_TRUE(disk->enableRequestWasSent());
    EXPECT_FALSE(disk->isOpen());

    // Once enabled, a drive that refuses the enable command still answers.
    transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Enable, true);
    ASSERT_TRUE(disk->_openSMARTDevice());
    kelvaro::test::log().clear();
    EXPECT_FALSE(disk->_openSMARTDevice());
    EXPECT_EQ(logText(),
              "Internal error: TEVSMARTStorageDevice tried to open a device which is already open\n");
    EXPECT_TRUE(disk->isOpen());
    disk->_closeSMARTDevice();
    EXPECT_FALSE(disk->isOpen());
    disk->_closeSMARTDevice();
    EXPECT_TRUE(logText().endsWith(
        "Internal error: TEVSMARTStorageDevice tried to close a device which is not open\n"));
    EXPECT_EQ(disk->temperature(), 40);

    // A new object for the same drive must enable it itself.
    EXPECT_FALSE(device(transport));
}

TEST(TEVSMARTStorageDevice, CreationNeedsAnOpenableDriveButNotItsIdentity)
{
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    auto d = drive();
    d.failing.insert(FixtureAtaSmartTransport::Operation::Identify);
    transport->setDrive("sda", d);
    const auto anonymous = device(transport);
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->productName(), "UNKNOWN SMART DISK");
    EXPECT_TRUE(anonymous->serialNumber().isEmpty());
    EXPECT_FALSE(anonymous->serialNumber().isNull());

    EXPECT_FALSE(device(transport, "sdz")); // no such drive
    const auto entry = firstDriveEntry(driveRegistry({{"SMART Capable", true}}, "sdz"));
    EXPECT_FALSE(TEVSMARTStorageDevice::createWithIORegistryEntry(entry, true, transport));
    EXPECT_TRUE(logText().contains("not accepted because access to its S.M.A.R.T. interface failed.\n"));
    EXPECT_FALSE(TEVSMARTStorageDevice::createWithIORegistryEntry(nullptr, false, transport));

    transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Status, true);
    EXPECT_EQ(anonymous->currentSMARTStatus(), TEVSMARTStorageDevice::StatusUnknown);
    transport->setFailing("sda", FixtureAtaSmartTransport::Operation::Open, true);
    EXPECT_EQ(anonymous->temperature(), -1);
    EXPECT_FALSE(anonymous->isOpen());
}

TEST(TEVSMARTStorageDevice, EnumerationTakesAhciThenServicesEntriesThatAnnounceSupport)
{
    platform::IORegistry::Builder builder;
    const auto add = [&builder](const QString& leaf, const QVariantMap& properties, const QString& bsd) {
        const int d = builder.add(platform::IORegistry::RootIndex, {leaf, "IOBlockStorageDevice"}, leaf,
                                  std::make_shared<platform::StaticIORegistryPropertySource>(properties));
        builder.add(d, {"IOMedia"}, "IOMedia",
                    std::make_shared<platform::StaticIORegistryPropertySource>(QVariantMap{{"BSD Name", bsd}}));
    };
    add("IOBlockStorageServices", {{"SMART Capable", true}}, "sdc");
    add("IOAHCIBlockStorageDevice", {{"SMART Capable", true}}, "sda");
    add("IOAHCIBlockStorageDevice", {{"SMART Capable", false}}, "sdb");
    add("IONVMeBlockStorageDevice", {{"SMART Capable", true}}, "nvme0n1");
    const auto registry = builder.finish();
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    for (const char* name : {"sda", "sdb", "sdc", "nvme0n1"})
        transport->setDrive(name, drive());

    TEVSMARTStorageDevice::setDebugMode(true);
    const auto devices = TEVSMARTStorageDevice::allSMARTDevicesRestrictToTemperatureSupport(false, registry, transport);
    TEVSMARTStorageDevice::setDebugMode(false);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0]->bsdName(), "sda");
    EXPECT_EQ(devices[1]->bsdName(), "sdc");
    EXPECT_EQ(devices[0]->temperatureAttributeID(), 194);
    const QString log = logText();
    EXPECT_TRUE(log.startsWith("*** Scanning for S.M.A.R.T. capable devices. (Found 3 new era block storage devices.)\n"));
    EXPECT_TRUE(log.endsWith("*** Scan of S.M.A.R.T. capable devices completed.\n"));
}
