#include "sensors/TEVSystemManagementController.h"

#include "platform/foundation/Values.h"
#include "platform/hardware/EmulatedSmcConnection.h"
#include "platform/registry/FixtureIORegistry.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace values = platform::values;

namespace {

struct KeyRow {
    const char* key;
    const char* type;
    QByteArray bytes;
};

// Forwards to an emulated table, counting calls; can make answers carry an error result byte.
class CountingConnection final : public platform::SmcConnection {
public:
    explicit CountingConnection(std::unique_ptr<platform::SmcConnection> inner) : inner_(std::move(inner)) {}
    int open() override { return openError ? openError : inner_->open(); }
    void close() override
    {
        ++*closes;
        inner_->close();
    }
    bool isOpen() const override { return inner_->isOpen(); }
    platform::SmcAnswer<quint32> keyCount() override { return inner_->keyCount(); }
    platform::SmcAnswer<quint32> keyAtIndex(quint32 index) override { return inner_->keyAtIndex(index); }
    platform::SmcAnswer<platform::SmcKeyInfo> keyInfo(quint32 key) override
    {
        ++*infoCalls;
        return inner_->keyInfo(key);
    }
    platform::SmcAnswer<QByteArray> readKey(quint32 key) override
    {
        ++*readCalls;
        auto answer = inner_->readKey(key);
        if (answer.ok() && errorResult)
            answer.result = errorResult; // bytes present, but the SMC says the read failed
        return answer;
    }

    std::shared_ptr<int> infoCalls = std::make_shared<int>(0);
    std::shared_ptr<int> readCalls = std::make_shared<int>(0);
    int openError = 0;
    quint8 errorResult = 0;
    std::shared_ptr<int> closes = std::make_shared<int>(0);

private:
    std::unique_ptr<platform::SmcConnection> inner_;
};

std::unique_ptr<CountingConnection> table(const std::vector<KeyRow>& rows)
{
    QVariantList keys;
    for (const auto& row : rows)
        keys.append(QVariantMap{{"Key", values::fromString(row.key)},
                                {"Type", values::fromString(row.type)},
                                {"Bytes", values::fromData(row.bytes)}});
    auto loaded = platform::EmulatedSmcConnection::fromSection({{"Keys", keys}});
    EXPECT_TRUE(loaded.connection) << loaded.error.toStdString();
    return std::make_unique<CountingConnection>(std::move(loaded.connection));
}

TEVIORegistryEntry::Registry smcRegistry(bool withVersion = true)
{
    QVariantMap properties;
    if (withVersion)
        properties.insert("smc-version", values::fromString("1.41f3"));
    const QVariantMap smc{{"Class", QVariantList{values::fromString("AppleSMC"), values::fromString("IOService")}},
                          {"Properties", properties}};
    const auto loaded = platform::FixtureIORegistry::load({smc});
    EXPECT_TRUE(loaded.registry) << loaded.error.toStdString();
    return loaded.registry;
}

std::shared_ptr<TEVIORegistryEntry> smcEntry(bool withVersion = true)
{
    return TEVIORegistryEntry::serviceObjectsMatchingName("AppleSMC", smcRegistry(withVersion))->at(0);
}

_TEVSMCValue smcValue(const char* type, QByteArray bytes, quint32 size)
{
    _TEVSMCValue value;
    value.dataType = TEVSystemManagementController::fourCharCodeForKeyString(type);
    value.dataSize = size;
    std::copy(bytes.begin(), bytes.begin() + std::min<qsizetype>(bytes.size(), 32), value.bytes.begin());
    return value;
}

} // namespace

TEST(TEVSystemManagementController, DecodesByTypeCodeAndSize)
{
    struct Row {
        const char* type;
        QByteArray bytes;
        quint32 size;
        QVariant expected;
    };
    const std::vector<Row> rows{
        {"sp78", QByteArray("\x1a\x80", 2), 2, QVariant(26.5)},
        {"sp78", QByteArray("\xe6\x80", 2), 2, QVariant(-25.5)},
        {"fpe2", QByteArray("\x1f\x40", 2), 2, QVariant(2000.0)},
        {"fp1f", QByteArray("\x80\x00", 2), 2, QVariant(1.0)},
        {"sp78", QByteArray("\x1a\x80\x00\x00", 4), 4, QVariant(QByteArray("\x1a\x80\x00\x00", 4))},
        {"fp00", QByteArray("\x12\x34", 2), 2, QVariant(QByteArray("\x12\x34", 2))},
        {"flag", QByteArray("\x01", 1), 1, QVariant(true)},
        {"flag", QByteArray("\x02", 1), 1, QVariant(false)},
        {"si8 ", QByteArray("\xff", 1), 1, QVariant(qint64(-1))},
        {"ui8 ", QByteArray("\xff", 1), 1, QVariant(qint64(255))},
        {"ui16", QByteArray("\xff\xfe", 2), 2, QVariant(qint64(65534))},
        {"ui16", QByteArray("\x00\x01\x00\x00", 4), 4, QVariant(QByteArray("\x00\x01\x00\x00", 4))},
        {"ui32", QByteArray("\xff\xff\xff\xff", 4), 4, QVariant(qint64(4294967295LL))},
        {"ch8*", QByteArray("abc"), 3, QVariant(QString("abc"))},
        {"{alv", QByteArray("\x00\x00\x01\x02\x00\x00", 6), 6, QVariant(qint64(258))},
        {"{fds", QByteArray("\0\0\0\0Left\0xxxxxxxx", 16), 16, QVariant(QString("Left"))},
        {"{rev", QByteArray("\x01\x44\x0f\x00\x00\x63", 6), 6, QVariant(QString("1.68f99"))},
        {"hex_", QByteArray("\x0a\x0b", 2), 2, QVariant(QByteArray("\x0a\x0b", 2))},
    };
    for (const auto& row : rows) {
        const auto value = smcValue(row.type, row.bytes, row.size);
        const QVariant decoded = TEVSystemManagementController::objectValueForSMCValue(&value);
        EXPECT_EQ(decoded.typeId(), row.expected.typeId()) << row.type;
        EXPECT_EQ(decoded, row.expected) << row.type;
    }
    _TEVSMCValue ui8Zero = smcValue("ui8 ", QByteArray("\x07", 1), 1);
    ui8Zero.dataType = 0x75693800u;
    EXPECT_EQ(TEVSystemManagementController::objectValueForSMCValue(&ui8Zero), QVariant(qint64(7)));
    const auto empty = smcValue("ui8 ", {}, 0);
    EXPECT_FALSE(TEVSystemManagementController::objectValueForSMCValue(&empty).isValid());
    EXPECT_FALSE(TEVSystemManagementController::objectValueForSMCValue(nullptr).isValid());
}

TEST(TEVSystemManagementController, NeverDecodesPastTheHeldBytes)
{
    const auto big = smcValue("ch8*", QByteArray(32, 'a'), 200);
    EXPECT_EQ(TEVSystemManagementController::objectValueForSMCValue(&big), QVariant(QString(32, 'a')));
    const auto raw = smcValue("blob", QByteArray(32, '\x11'), 4000);
    EXPECT_EQ(TEVSystemManagementController::objectValueForSMCValue(&raw).toByteArray().size(), 32);
    // No terminator inside the 13 bytes: the text stops there.
    const auto fds = smcValue("{fds", QByteArray(32, 'z'), 16);
    EXPECT_EQ(TEVSystemManagementController::objectValueForSMCValue(&fds), QVariant(QString(13, 'z')));
}

TEST(TEVSystemManagementController, FixedPointDivisorsFollowTheDigitSums)
{
    const auto divisor = [](const char* type) {
        return TEVSystemManagementController::divisorForFixPointCode(
            TEVSystemManagementController::fourCharCodeForKeyString(type));
    };
    EXPECT_EQ(divisor("fp1f"), 32768.0f);
    EXPECT_EQ(divisor("sp0f"), 32768.0f);
    EXPECT_EQ(divisor("sp78"), 256.0f);
    EXPECT_EQ(divisor("fpe2"), 4.0f);
    EXPECT_EQ(divisor("spf0"), 1.0f);
    for (const char* bad : {"fp00", "fpf0", "fp88x", "sp77", "fpE2", "ui16", "sp0g"})
        EXPECT_EQ(divisor(bad), -1.0f) << bad;
}

TEST(TEVSystemManagementController, DisplayTextAndKeyTexts)
{
    const auto sp = smcValue("sp78", QByteArray("\x1a\x80", 2), 2);
    const auto flag = smcValue("flag", QByteArray("\x01", 1), 1);
    const auto raw = smcValue("sp78", QByteArray("\x1a\x80\x00\x00", 4), 4);
    EXPECT_EQ(TEVSystemManagementController::descriptionForSMCValue(&sp), "26.5");
    EXPECT_EQ(TEVSystemManagementController::descriptionForSMCValue(&flag), "1");
    EXPECT_EQ(TEVSystemManagementController::descriptionForSMCValue(&raw), "1a 80 00 00 ");
    EXPECT_EQ(TEVSystemManagementController::descriptionForSMCValue(nullptr), "nil");
    const auto none = smcValue("ui8 ", {}, 0);
    EXPECT_TRUE(TEVSystemManagementController::descriptionForSMCValue(&none).isNull());
    EXPECT_TRUE(TEVSystemManagementController::readableHexStringForData(QByteArray()).isNull());
    EXPECT_EQ(TEVSystemManagementController::readableHexStringForData(QByteArray("")), "");

    EXPECT_EQ(TEVSystemManagementController::stringForFourCharCode(0x54433044u), "TC0D");
    EXPECT_EQ(TEVSystemManagementController::stringForFourCharCode(0x75693800u), "ui8 ");
    EXPECT_EQ(TEVSystemManagementController::fourCharCodeForKeyString("TC0D"), 0x54433044u);
    EXPECT_EQ(TEVSystemManagementController::fourCharCodeForKeyString("TC0"), 0u);
}

TEST(TEVSystemManagementController, ReadsKeysThroughTheConnection)
{
    auto connection = table({{"TC0D", "sp78", QByteArray("\x1a\x80", 2)},
                             {"F0Ac", "fpe2", QByteArray("\x1f\x40", 2)},
                             {"FNum", "ui8 ", QByteArray("\x02", 1)}});
    const auto controller = TEVSystemManagementController::createWithIORegistryEntry(smcEntry(), std::move(connection));
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->versionNumber(), "1.41f3");
    EXPECT_EQ(controller->allPropertyKeys(), (QStringList{"TC0D", "F0Ac", "FNum"}));
    EXPECT_EQ(controller->objectValueForPropertyWithKey("F0Ac"), QVariant(2000.0));
    EXPECT_EQ(controller->typeCodeForPropertyWithKey("FNum"), "ui8 ");
    EXPECT_EQ(controller->descriptionForPropertyWithKey("TC0D"), "26.5");
    EXPECT_EQ(controller->precisionForPropertyWithKey("TC0D"), 1.0 / 256);
    EXPECT_EQ(controller->precisionForPropertyWithKey("FNum"), 0.0);
    EXPECT_EQ(controller->precisionForPropertyWithKey("None"), -1.0);
    EXPECT_FALSE(controller->objectValueForPropertyWithKey("None").isValid());
    EXPECT_TRUE(controller->typeCodeForPropertyWithKey("None").isNull());
}

TEST(TEVSystemManagementController, CacheHoldsAValueForOneMonotonicSecond)
{
    auto connection = table({{"TC0D", "sp78", QByteArray("\x1a\x80", 2)}});
    const auto infoCalls = connection->infoCalls;
    const auto readCalls = connection->readCalls;
    const auto controller = TEVSystemManagementController::createWithIORegistryEntry(smcEntry(), std::move(connection));
    ASSERT_TRUE(controller);
    kelvaro::test::clock()->advanceSeconds(10); // past what the plausibility check cached
    *infoCalls = *readCalls = 0;

    EXPECT_EQ(controller->objectValueForPropertyWithKey("TC0D"), QVariant(26.5));
    kelvaro::test::clock()->advanceSeconds(0.5);
    EXPECT_EQ(controller->objectValueForPropertyWithKey("TC0D"), QVariant(26.5));
    EXPECT_EQ(*infoCalls, 1);
    EXPECT_EQ(*readCalls, 1);
    kelvaro::test::clock()->advanceSeconds(0.7);
    EXPECT_EQ(controller->objectValueForPropertyWithKey("TC0D"), QVariant(26.5));
    EXPECT_EQ(*infoCalls, 2);
    EXPECT_EQ(*readCalls, 2);

    // Key texts that are no code never reach the SMC.
    EXPECT_FALSE(controller->objectValueForPropertyWithKey("TC0").isValid());
    EXPECT_FALSE(controller->objectValueForPropertyWithKey("TC0DX").isValid());
    EXPECT_EQ(*infoCalls, 2);
}

TEST(TEVSystemManagementController, ErrorResultByteIsAFailedReadAndNotCached)
{
    auto connection = table({{"TC0D", "sp78", QByteArray("\x1a\x80", 2)}});
    CountingConnection* raw = connection.get();
    const auto controller = TEVSystemManagementController::createWithIORegistryEntry(smcEntry(), std::move(connection));
    ASSERT_TRUE(controller);
    kelvaro::test::clock()->advanceSeconds(10);
    raw->errorResult = platform::smcresult::NotReadable;

    _TEVSMCValue value;
    EXPECT_FALSE(controller->getValue(&value, 0x54433044u));
    EXPECT_EQ(value.key, 0x54433044u);
    EXPECT_EQ(value.dataSize, 2u); // key information answered; no bytes
    EXPECT_EQ(value.bytes[0], 0);
    EXPECT_TRUE(kelvaro::test::log().contains("TEVSystemManagementController: function call failed with error 133\n"));

    raw->errorResult = 0;
    const int before = *raw->readCalls;
    EXPECT_EQ(controller->objectValueForPropertyWithKey("TC0D"), QVariant(26.5));
    EXPECT_EQ(*raw->readCalls, before + 1); // the failure left nothing in the cache
    EXPECT_FALSE(controller->getValue(nullptr, 0x54433044u));
    EXPECT_FALSE(controller->getValue(&value, 0));
}

TEST(TEVSystemManagementController, OpeningRejectsMissingVersionRefusalAndFakeDiode)
{
    EXPECT_FALSE(TEVSystemManagementController::createWithIORegistryEntry(
        smcEntry(false), table({{"TC0D", "sp78", QByteArray("\x1a\x80", 2)}})));

    auto refused = table({});
    refused->openError = 13;
    EXPECT_FALSE(TEVSystemManagementController::createWithIORegistryEntry(smcEntry(), std::move(refused)));
    EXPECT_TRUE(kelvaro::test::log().contains(
        "TEVSystemManagementController: could not open service connection (error 13)\n"));

    auto fake = table({{"TC0D", "ui16", QByteArray("\x01\x01", 2)}});
    EXPECT_FALSE(TEVSystemManagementController::createWithIORegistryEntry(smcEntry(), std::move(fake)));
    EXPECT_TRUE(kelvaro::test::log().contains("Rejecting communication!\n"));

    EXPECT_TRUE(TEVSystemManagementController::createWithIORegistryEntry(
        smcEntry(), table({{"TC0D", "ui16", QByteArray("\x01\x00", 2)}})));
}

TEST(TEVSystemManagementController, ListsTheKeysOfARealDump)
{
    const auto section = platform::EmulatedSmcConnection::sectionFromDump(
        kelvaro::test::readFile(kelvaro::test::testDataPath("smc/MacBookPro5,1.txt")));
    ASSERT_TRUE(section);
    auto loaded = platform::EmulatedSmcConnection::fromSection(*section);
    ASSERT_TRUE(loaded.connection) << loaded.error.toStdString();
    const auto controller =
        TEVSystemManagementController::createWithIORegistryEntry(smcEntry(), std::move(loaded.connection));
    ASSERT_TRUE(controller);
    const QStringList keys = controller->allPropertyKeys();
    EXPECT_EQ(qsizetype(keys.size()), qsizetype(section->value("Keys").toList().size()));
    EXPECT_TRUE(keys.contains("TC0D"));
    EXPECT_EQ(controller->precisionForPropertyWithKey("TC0D"), 1.0 / 256);
}

TEST(TEVSystemManagementController, MissingKeyLeavesOnlyItsCodeAndReleaseCloses)
{
    auto connection = table({{"FNum", "ui8 ", QByteArray("\x02", 1)}});
    const auto closes = connection->closes;
    auto controller = TEVSystemManagementController::createWithIORegistryEntry(smcEntry(), std::move(connection));
    ASSERT_TRUE(controller);
    _TEVSMCValue value;
    value.dataSize = 99;
    kelvaro::test::log().clear();
    EXPECT_FALSE(controller->getValue(&value, 0x54433044u));
    EXPECT_EQ(value.key, 0x54433044u);
    EXPECT_EQ(value.dataSize, 0u);
    EXPECT_EQ(value.dataType, 0u);
    EXPECT_FALSE(kelvaro::test::log().contains("function call failed")) << "a key this SMC lacks is no failure";

    EXPECT_FALSE(TEVSystemManagementController().getValue(&value, 0x54433044u)); // no connection
    controller.reset();
    EXPECT_EQ(*closes, 1);
}

TEST(TEVSMCCachedValue, IgnoresLifetimesNotAboveZeroAndUnstoredEntries)
{
    EXPECT_FALSE(TEVSMCCachedValue().isValid());
    TEVSMCCachedValue::setCacheExpireTime(0);
    TEVSMCCachedValue::setCacheExpireTime(-3);
    EXPECT_EQ(TEVSMCCachedValue::cacheExpireTime(), 1.0);
    TEVSMCCachedValue entry;
    entry.setCachedValue(nullptr);
    EXPECT_FALSE(entry.isValid());
    _TEVSMCValue value;
    value.key = 7;
    entry.setCachedValue(&value);
    kelvaro::test::clock()->advanceSeconds(1.0);
    EXPECT_TRUE(entry.isValid()); // the lifetime itself still counts
    kelvaro::test::clock()->advanceSeconds(0.001);
    EXPECT_FALSE(entry.isValid());
    EXPECT_EQ(entry.cachedValue().key, 7u);
}
