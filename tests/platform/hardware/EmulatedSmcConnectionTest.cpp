#include "platform/hardware/EmulatedSmcConnection.h"

#include "platform/foundation/SimulatedComputer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cerrno>

using platform::EmulatedSmcConnection;
using platform::SmcConnection;
namespace smcresult = platform::smcresult;

namespace {

quint32 code(const char* text)
{
    return SmcConnection::fourCharCode(QString::fromLatin1(text));
}

QVariantMap key(const char* name, const char* type, const QByteArray& bytes, const QVariantMap& extra = {})
{
    QVariantMap entry{{QStringLiteral("Key"), QString::fromLatin1(name)},
                      {QStringLiteral("Type"), QString::fromLatin1(type)},
                      {QStringLiteral("Bytes"), bytes}};
    entry.insert(extra); // overrides the plain fields
    return entry;
}

QVariantMap section(const QVariantList& keys)
{
    return {{QStringLiteral("Keys"), keys}};
}

std::unique_ptr<EmulatedSmcConnection> opened(const QVariantMap& smc)
{
    EmulatedSmcConnection::LoadResult loaded = EmulatedSmcConnection::fromSection(smc);
    EXPECT_TRUE(loaded.connection) << loaded.error.toStdString();
    if (loaded.connection) {
        EXPECT_EQ(loaded.connection->open(), 0);
    }
    return std::move(loaded.connection);
}

QVariantMap wander(double amplitude, double period)
{
    return {{QStringLiteral("Wander"),
             QVariantMap{{QStringLiteral("Amplitude"), amplitude}, {QStringLiteral("Period"), period}}}};
}

} // namespace

TEST(EmulatedSmcConnection, ServesRealDumpInIndexOrder)
{
    const std::optional<QVariantMap> smc =
        EmulatedSmcConnection::sectionFromDump(kelvaro::test::readFile(kelvaro::test::testDataPath("smc/MacBookPro5,1.txt")));
    ASSERT_TRUE(smc);
    auto connection = opened(*smc);
    ASSERT_TRUE(connection);

    EXPECT_EQ(connection->keyCount().value, 295u);
    EXPECT_EQ(connection->readKey(code("#KEY")).value, QByteArray::fromHex("00000127"));
    EXPECT_EQ(connection->keyAtIndex(0).value, code("#KEY"));
    EXPECT_EQ(connection->keyAtIndex(294).value, code("zDBG"));
    EXPECT_EQ(connection->keyInfo(code("zDBG")).value->type, 0x75693800u); // the dump shows it as ui8?
    EXPECT_EQ(connection->keyAtIndex(295).result, smcresult::KeyNotFound);
    EXPECT_EQ(connection->readKey(code("TC0D")).value, QByteArray::fromHex("5a40"));
    EXPECT_EQ(connection->versionText(), QStringLiteral("1.51f8"));
    // "NOT READABLE" keys still tell their size and type.
    EXPECT_EQ(connection->readKey(code("ACCL")).result, smcresult::NotReadable);
    EXPECT_EQ(connection->keyInfo(code("ACCL")).value->type, code("ui8 "));
    // Hidden keys lie outside the index.
    EXPECT_EQ(connection->keyInfo(code("KPST")).result, smcresult::KeyNotFound);
}

TEST(EmulatedSmcConnection, RejectsMalformedDumpLine)
{
    EXPECT_FALSE(EmulatedSmcConnection::sectionFromDump("Public keys (1):\n[TC0D] type [sp78] 73703738 len [ 2] attr [C0] -> 5A\n"));
    EXPECT_TRUE(kelvaro::test::log().contains("EmulatedSmcConnection: malformed dump line 2"));
}

TEST(EmulatedSmcConnection, KeysLongerThanOneRecordKeepTheirReportedSize)
{
    const QByteArray longValue = QByteArray::fromHex(QByteArray("0000000004C08010").repeated(8));
    const std::optional<QVariantMap> smc = EmulatedSmcConnection::sectionFromDump(
        "Public keys (2):\n"
        "[LGPD] type [hex_] 6865785F len [113] attr [50] -> NOT READABLE, code 85\n"
        "[AOPc] type [hex_] 6865785F len [64] attr [D4] -> " + longValue.toHex().toUpper() + "\n");
    ASSERT_TRUE(smc);
    auto connection = opened(*smc);
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->keyInfo(code("LGPD")).value->size, 113u);
    EXPECT_EQ(connection->readKey(code("LGPD")).result, smcresult::NotReadable);
    EXPECT_EQ(connection->keyInfo(code("AOPc")).value->size, 64u);
    EXPECT_EQ(connection->readKey(code("AOPc")).value, longValue.left(32));
}

TEST(EmulatedSmcConnection, FailSwitchAndOpenErrorAnswerLikeTheHardware)
{
    auto connection = opened(section({key("TC0D", "sp78", QByteArray::fromHex("1a80"), {{"Fail", true}}),
                                      key("F0Ac", "fpe2", QByteArray::fromHex("1f40"))}));
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->readKey(code("TC0D")).result, smcresult::NotReadable);
    EXPECT_EQ(connection->keyInfo(code("TC0D")).value->size, 2u);
    EXPECT_EQ(connection->readKey(code("F0Ac")).value, QByteArray::fromHex("1f40"));
    // "#KEY" answers the count when the table does not list it.
    EXPECT_EQ(connection->readKey(code("#KEY")).value, QByteArray::fromHex("00000002"));
    connection->close();
    EXPECT_EQ(connection->readKey(code("F0Ac")).result, smcresult::Error);

    QVariantMap refusing = section({});
    refusing.insert(QStringLiteral("OpenError"), qint64(EACCES));
    auto closed = EmulatedSmcConnection::fromSection(refusing).connection;
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->open(), EACCES);
    EXPECT_EQ(closed->keyCount().result, smcresult::Error);
}

TEST(EmulatedSmcConnection, WanderingValueFollowsTheClock)
{
    // The manual clock starts at a whole number of periods: the value starts at its base.
    auto connection = opened(section({key("TC0D", "sp78", QByteArray::fromHex("1a80"), wander(2.0, 4.0)),
                                      key("FNum", "ui8 ", QByteArray::fromHex("fa"), wander(10.0, 4.0)),
                                      key("TA0P", "sp78", QByteArray::fromHex("1000"))}));
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->readKey(code("TC0D")).value, QByteArray::fromHex("1a80")); // 26.5
    kelvaro::test::clock()->advanceSeconds(1);
    EXPECT_EQ(connection->readKey(code("TC0D")).value, QByteArray::fromHex("1c80")); // 28.5
    EXPECT_EQ(connection->readKey(code("FNum")).value, QByteArray::fromHex("ff"));   // clamped to ui8
    kelvaro::test::clock()->advanceSeconds(2);
    EXPECT_EQ(connection->readKey(code("TC0D")).value, QByteArray::fromHex("1880")); // 24.5
    EXPECT_EQ(connection->readKey(code("FNum")).value, QByteArray::fromHex("f0"));
    EXPECT_EQ(connection->readKey(code("TA0P")).value, QByteArray::fromHex("1000"));
}

TEST(EmulatedSmcConnection, FloatsAndStructureFieldsWander)
{
    QVariantMap light = wander(100.0, 4.0);
    light[QStringLiteral("Wander")] = QVariantMap{{QStringLiteral("Amplitude"), 100.0},
                                                  {QStringLiteral("Period"), 4.0},
                                                  {QStringLiteral("Offset"), qint64(2)}};
    auto connection = opened(section({key("F0Ac", "flt ", QByteArray::fromHex("0080d444"), wander(100.0, 4.0)),
                                      key("ALV0", "{alv", QByteArray::fromHex("010103be01120010dfe0"), light)}));
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->readKey(code("F0Ac")).value, QByteArray::fromHex("0080d444")); // 1700 rpm
    kelvaro::test::clock()->advanceSeconds(1);
    EXPECT_EQ(connection->readKey(code("F0Ac")).value, QByteArray::fromHex("0000e144")); // 1800 rpm
    // Only the 16-bit reading moves (958 to 1058); the bytes around it stay.
    EXPECT_EQ(connection->readKey(code("ALV0")).value, QByteArray::fromHex("0101042201120010dfe0"));
}

TEST(EmulatedSmcConnection, SchemaErrorsNameTheKeyPath)
{
    const QByteArray two = QByteArray::fromHex("1a80");
    struct Row {
        QVariantMap smc;
        const char* error;
    };
    const Row rows[] = {
        {{{"Sensors", QVariantList{}}}, "SMC: unknown key \"Sensors\""},
        {{{"Keys", QVariantMap{}}}, "SMC.Keys: not an array"},
        {{{"OpenError", true}}, "SMC.OpenError: not an errno value"},
        {section({QStringLiteral("TC0D")}), "SMC.Keys[0]: not a dictionary"},
        {section({key("TC0D", "sp78", two, {{"Colour", 1}})}), "SMC.Keys[0]: unknown key \"Colour\""},
        {section({key("TC0", "sp78", two)}), "SMC.Keys[0].Key: not a four-character text"},
        {section({key("TC0D", "ui8", two)}), "SMC.Keys[0].Type: not a four-character text"},
        {section({key("TC0D", "sp78", two, {{"Type", qint64(-1)}})}), "SMC.Keys[0].Type: not a four-character text"},
        {section({key("TC0D", "sp78", QByteArray())}), "SMC.Keys[0].Bytes: not data of 1 to 32 bytes"},
        {section({key("TC0D", "sp78", QByteArray(33, 'x'))}), "SMC.Keys[0].Bytes: not data of 1 to 32 bytes"},
        {section({key("TC0D", "sp78", two, {{"Fail", 1}})}), "SMC.Keys[0].Fail: not a boolean"},
        {section({key("LGPD", "hex_", two, {{"Size", 113}})}), "SMC.Keys[0].Size: not a size of 33 to 65535 bytes"},
        {section({key("LGPD", "hex_", QByteArray(32, 0), {{"Size", 32}})}), "SMC.Keys[0].Size: not a size"},
        {section({key("TC0D", "sp78", two), key("TC0D", "sp78", two)}), "SMC.Keys[1].Key: duplicate key \"TC0D\""},
        {section({key("TC0D", "sp78", two, wander(1, 0))}), "SMC.Keys[0].Wander: needs a finite Amplitude"},
        {section({key("TC0D", "sp78", two, {{"Wander", QVariantMap{{"Amplitude", 1}, {"Period", 2}, {"Phase", 1}}}})}),
         "SMC.Keys[0].Wander: unknown key \"Phase\""},
        {section({key("MSSD", "ch8*", two, wander(1, 2))}), "SMC.Keys[0].Wander: type \"ch8*\" of 2 bytes cannot wander"},
        {section({key("TC0D", "sp78", QByteArray(4, 0), wander(1, 2))}), "SMC.Keys[0].Wander: type \"sp78\" of 4 bytes"},
        {section({key("ALV0", "{alv", two, {{"Wander", QVariantMap{{"Amplitude", 1}, {"Period", 2}, {"Offset", 1}}}})}),
         "SMC.Keys[0].Wander.Offset: not the offset of 2 bytes within the 2 bytes"},
    };
    for (const Row& row : rows) {
        const EmulatedSmcConnection::LoadResult loaded = EmulatedSmcConnection::fromSection(row.smc);
        EXPECT_FALSE(loaded.connection) << row.error;
        EXPECT_TRUE(loaded.error.startsWith(QLatin1String(row.error))) << loaded.error.toStdString();
    }
}

TEST(EmulatedSmcConnection, ReadsTheSimulatedComputersSection)
{
    using platform::SimulatedComputer;
    const auto withSmc = SimulatedComputer::fromDictionary(
        {{"SMC", section({key("TC0D", "sp78", QByteArray::fromHex("1a80"))})}}, QStringLiteral("/nonexistent"));
    ASSERT_TRUE(withSmc.computer) << withSmc.error.toStdString();
    const auto loaded = EmulatedSmcConnection::fromComputer(*withSmc.computer);
    ASSERT_TRUE(loaded.connection);
    EXPECT_EQ(loaded.connection->open(), 0);
    EXPECT_EQ(loaded.connection->keyAtIndex(0).value, code("TC0D"));

    const auto bare = SimulatedComputer::fromDictionary({}, QStringLiteral("/nonexistent"));
    ASSERT_TRUE(bare.computer);
    const auto none = EmulatedSmcConnection::fromComputer(*bare.computer);
    EXPECT_FALSE(none.connection);
    EXPECT_TRUE(none.error.isEmpty());
}
