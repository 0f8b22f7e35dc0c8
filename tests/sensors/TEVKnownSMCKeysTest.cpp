#include "sensors/TEVKnownSMCKeys.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <span>

using TEVKnownSMCKeys::Model;

namespace {

struct Case {
    const char* key;
    const char* model;
    const char* location; // nullptr: not known
    quint64 chips = 0;
};

QString locationOf(const std::optional<QVariantMap>& description)
{
    return description ? description->value(QStringLiteral("LocationID")).toString() : QString();
}

void expectLocations(std::span<const Case> cases, bool electric)
{
    for (const Case& c : cases) {
        const Model model{QString::fromLatin1(c.model), c.chips};
        const QString key = QString::fromLatin1(c.key);
        const auto description = electric ? TEVKnownSMCKeys::electricDescription(key, model)
                                          : TEVKnownSMCKeys::temperatureDescription(key, model);
        if (c.location)
            EXPECT_EQ(locationOf(description), QString::fromLatin1(c.location)) << c.key << " on " << c.model;
        else
            EXPECT_FALSE(description) << c.key << " on " << c.model << " gave "
                                      << locationOf(description).toStdString();
    }
}

} // namespace

TEST(TEVKnownSMCKeys, DescribesTemperatureKeyWithIdentifierCode)
{
    const auto description = TEVKnownSMCKeys::temperatureDescription(QStringLiteral("TC0D"), {"iMac12,2", 1});
    const QVariantMap expected{{"SMCKey", "TC0D"}, {"LocationID", "SMC CPU A DIODE"},
                               {"UniqueID", "smc.temperature.DF3"}};
    EXPECT_EQ(description, expected);
}

TEST(TEVKnownSMCKeys, DescribesElectricKeyWithQuantityAndKindWord)
{
    EXPECT_EQ(TEVKnownSMCKeys::electricDescription(QStringLiteral("VC0C"), {"MacPro5,1", 2}),
              (QVariantMap{{"SMCKey", "VC0C"}, {"LocationID", "SMC CPU A"}, {"UniqueID", "smc.voltage.DE3"},
                           {"Quantity", qint64(2)}}));
    EXPECT_EQ(TEVKnownSMCKeys::electricDescription(QStringLiteral("IG0R"), {"iMac12,2", 1}),
              (QVariantMap{{"SMCKey", "IG0R"}, {"LocationID", "SMC MXM GRAPHICS MODULE"},
                           {"UniqueID", "smc.current.HT3"}, {"Quantity", qint64(3)}}));
    EXPECT_EQ(TEVKnownSMCKeys::electricDescription(QStringLiteral("PG0R"), {"MacPro6,1", 1}),
              (QVariantMap{{"SMCKey", "PG0R"}, {"LocationID", "SMC GRAPHICS CARD A 12V LINE"},
                           {"UniqueID", "smc.power.HT3"}, {"Quantity", qint64(4)}}));
}

TEST(TEVKnownSMCKeys, ComputesCharactersInSixteenBitUnits)
{
    const Model model{"iMac12,2", 1};
    const auto latin = TEVKnownSMCKeys::temperatureDescription(QStringLiteral("TC\u00e9D"), model);
    ASSERT_TRUE(latin);
    EXPECT_EQ(latin->value("LocationID"), QStringLiteral("SMC CPU \u00e9 DIODE"));
    EXPECT_EQ(latin->value("UniqueID"), QStringLiteral("smc.temperature.DF\u00ec"));
    const auto last = TEVKnownSMCKeys::temperatureDescription(QStringLiteral("TC\uffffH"), model);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->value("LocationID"), QStringLiteral("SMC CPU \uffff HEAT SINK"));
    EXPECT_EQ(last->value("UniqueID"), QString(QStringLiteral("smc.temperature.DJ") + QChar(u'\x02')));
}

TEST(TEVKnownSMCKeys, KnowsOnlyFourCharacterKeysOfItsKind)
{
    const Model model{"MacPro5,1", 2};
    for (const char* key : {"", "TC0", "TC0DD", "tC0D", "XC0D", "VC0C", "TCTD"})
        EXPECT_FALSE(TEVKnownSMCKeys::temperatureDescription(QString::fromLatin1(key), model)) << key;
    for (const char* key : {"", "VC0", "VC0CC", "vC0C", "TC0D", "XC0C", "VZ0C", "Vt0C", "V00C"})
        EXPECT_FALSE(TEVKnownSMCKeys::electricDescription(QString::fromLatin1(key), model)) << key;
}

TEST(TEVKnownSMCKeys, LocatesTemperatureKeysByCharacterRules)
{
    const Case cases[] = {
        {"TA0p", "iMac12,2", "SMC MLB AMBIENT TEMPERATURE"}, {"TA1p", "iMac12,2", nullptr},
        {"TA0S", "MacPro5,1", "SMC PCI SLOT 1 POS 1"},      {"TA3S", "MacPro5,1", "SMC PCI SLOT 2 POS 2"},
        {"TA/S", "MacPro5,1", "SMC PCI SLOT 1 POS 0"}, // k2 - '0' = -1: signed division and remainder
        {"TA1P", "iMac14,1", "SMC AMBIENT AIR POSITION 2"}, {"TB0T", "MacBookPro5,1", "SMC BATTERY"},
        {"TB3T", "MacBookPro5,1", "SMC BATTERY POSITION 4"}, {"TB5T", "MacBookPro5,1", nullptr},
        {"TC1C", "iMac12,2", "SMC CPU CORE 1"},             {"TC0C", "iMac12,2", nullptr},
        {"TC1H", "MacPro5,1", "SMC CPU B HEAT SINK"},       {"TCXD", "MacPro5,1", "SMC CPU X DIODE"},
        {"TC0P", "iMac12,2", "SMC CPU A PROXIMITY"},        {"TC4P", "iMac12,2", "SMC CPU E PROXIMITY"},
        {"TC5P", "iMac12,2", nullptr},                      {"TC/P", "iMac12,2", nullptr}, // n wraps to 65535
        {"TCAP", "iMac12,2", nullptr},
        {"TCHP", "MacBookPro5,1", "SMC CHARGER PROXIMITY TEMPERATURE"},
        {"TI0P", "iMac12,2", "SMC THUNDERBOLT PORT 1"},     {"TI9P", "iMac12,2", "SMC THUNDERBOLT PORT :"},
        {"TI1p", "iMac12,2", "SMC VOLTAGE REGULATOR PROXIMITY"}, {"TI0t", "MacPro5,1", "SMC A/B GRAPHICS RISER CARD"},
        {"TN0C", "MacPro3,1", "SMC NORTHBRIDGE CORE"},      {"TN1P", "MacPro3,1", "SMC NORTHBRIDGE POS 2"},
        {"TN0D", "MacPro3,1", "SMB NORTHBRIDGE CHIP DIE"},
        {"TPCD", "iMac12,2", "SMC PLATFORM CONTROLLER HUB CHIP TEMPERATURE"},
        {"TS2P", "iMac12,2", "SMC CAMERA PROXIMITY"},       {"TTLD", "MacBookPro11,1", "SMC LEFT THUNDERBOLT CHIP"},
        {"TV0P", "MacPro5,1", "SMC AIR VENT EXIT"},         {"TW0P", "MacBookPro5,1", "SMC WLAN CARD"},
        {"TW3p", "MacBookPro5,1", "SMC WLAN CARD"},         {"TaRC", "MacBookPro13,1", "SMC AIRFLOW RIGHT SIDE"},
        {"Tb0p", "MacBookPro5,1", "SMC BLC PROXIMITY TEMPERATURE"}, {"TeES", "MacPro5,1", "SMC RAID CARD"},
        {"Te5S", "MacPro5,1", "SMC RAID CARD"},             {"Te1S", "MacPro5,1", "SMC PCIE SLOT 1"},
        {"Th8H", "MacPro5,1", "SMC MAIN HEAT SINK 9"},      {"Th9H", "MacPro5,1", "SMC MAIN HEAT SINK 9"},
        {"Th0P", "Macmini6,1", "SMC CPU A PROXIMITY"},      {"Tm0P", "MacPro5,1", "SMC MAIN LOGIC BOARD"},
        {"Tp0C", "MacPro5,1", "SMC POWER SUPPLY SENSOR 1"}, {"Tp3H", "Xserve3,1", "SMC PRIMARY HEATSINK"},
        {"Tp9P", "Xserve3,1", "SMC POWER SUPPLY POSITION :"}, {"TpAP", "Xserve3,1", nullptr},
        {"Tp2t", "Xserve3,1", "SMC POWER SUPPLY"},          {"Ts0P", "MacBookPro13,1", "SMC LEFT PALM REST"},
        {"TZ0P", "iMac12,2", nullptr},                      {"Tc0D", "iMac12,2", nullptr},
    };
    expectLocations(cases, false);
}

TEST(TEVKnownSMCKeys, LocatesTemperatureKeysByModel)
{
    const Case cases[] = {
        // The ambient air key is not the room sensor on iMac13 and newer.
        {"TA0P", "iMac12,2", "SMC AMBIENT AIR"}, {"TA0P", "iMac14,1", nullptr}, {"TA0P", "iMac13,1", nullptr},
        {"TA0P", "iMac1", "SMC AMBIENT AIR"},    {"TA0P", "iMac1,1", "SMC AMBIENT AIR"},
        {"TA0P", "iMac9,1", "SMC AMBIENT AIR"},  {"TA0P", "", "SMC AMBIENT AIR"},
        {"TC1p", "MacPro6,1", "SMC CPU VOLTAGE REGULATOR"}, {"TC0p", "MacPro6,1", "SMC CPU A PROXIMITY"},
        {"TC2p", "MacPro6,1", nullptr},          {"TC2p", "MacBookPro5,1", "SMC CPU C PROXIMITY"},
        {"TG1d", "MacPro6,1", "SMC GRAPHICS CARD B CHIP"},
        {"TG0m", "MacPro6,1", "SMC GRAPHICS CARD A VIDEO RAM PROXIMITY"},
        {"TG0p", "MacPro6,1", "SMC GRAPHICS CARD A LOCAL TEMPERATURE"},
        {"TG1r", "MacPro6,1", "SMC GRAPHICS CARD B VOLTAGE REGULATOR"},
        {"TG0H", "MacPro6,1", nullptr},          {"TG5D", "MacPro6,1", nullptr}, // MacPro6,1 has only its own rows
        {"TG0d", "iMac12,2", "SMC GPU CHIP TEMPERATURE"}, {"TG1d", "iMac12,2", nullptr},
        {"TG0H", "iMac12,2", "SMC GPU 1 HEAT SINK"}, {"TG5D", "iMac12,2", "SMC GPU DIODE"},
        {"TG0P", "iMac12,2", "SMC GPU 1 CHIP"}, {"TGVP", "MacBookPro5,1", "SMC GPU VRAM"},
        {"TG0p", "MacPro6,2", "SMC GPU PROXIMITY TEMPERATURE"}, // a code with a comma is tested exactly
        {"TH0P", "MacPro5,1", "SMC DRIVE BAY 0"}, {"TH5P", "Xserve3,1", "SMC DRIVE BAY 5"},
        {"TH0P", "MacPro4,1", "SMC DRIVE BAY 0"}, {"TH0P", "iMac12,2", "SMC DRIVE BAY 1"},
        {"TH6P", "MacPro5,1", nullptr},          {"THSP", "iMac12,2", "SMC SSD BAY"},
        {"THSC", "iMac12,2", "SMC THUNDERBOLT"}, {"TH0C", "iMac12,2", "SMC SSD TEMPERATURE C"},
        {"TI0p", "MacPro6,1", "SMC I/O BOARD PROXIMITY"}, {"TI0p", "iMac12,2", "SMC THUNDERBOLT TRANSMITTER"},
        {"TL0P", "iMac13,2", nullptr},           {"TL0P", "iMac12,2", "SMC LCD PROXIMITY"},
        {"TO0P", "Macmini4,1", "SMC SATA DRIVE 2"}, {"TO0P", "Macmini4,2", "SMC OPTICAL DRIVE"},
        {"Te0t", "MacPro6,1", "SMC PCIE SWITCH"}, {"Te0t", "iMac12,2", "SMC THUNDERBOLT"},
        {"Tm1p", "iMac14,1", "SMC MLB CPU PROXIMITY TEMPERATURE"}, {"Tm2p", "iMac14,1", nullptr},
        {"Tm2p", "iMac17,1", "SMC MLB CPU BACKSIDE TEMPERATURE"}, {"Tm1p", "iMac15,1", "SMC MLB GPU TEMPERATURE"},
        {"Tm0p", "iMac14,4", "SMC MLB PSU TEMPERATURE"}, {"Tm0p", "iMac14,3", nullptr},
        {"Tm0p", "MacPro6,1", "SMC MLB PROXIMITY"}, {"Tm1p", "MacPro6,1", nullptr},
    };
    expectLocations(cases, false);
}

TEST(TEVKnownSMCKeys, LocatesMemoryKeysByModelGroup)
{
    const Case cases[] = {
        {"TMA3", "MacPro5,1", "SMC MEMORY MODULE SLOT 3"}, {"TMB3", "MacPro5,1", "SMC MEMORY MODULE SLOT 7"},
        {"TMA1", "MacPro4,1", "SMC MEMORY MODULE SLOT 1"}, {"TM0P", "MacPro5,1", nullptr},
        {"TMLB", "MacPro5,1", nullptr},
        {"TM0P", "Macmini5,1", "SMC MEMORY SLOTS"},         {"TM0S", "Macmini5,2", "SMC MEMORY MODULE SLOT 1"},
        {"TM1S", "Macmini5,1", "SMC MEMORY MODULE SLOT 2"}, {"TMBS", "Macmini5,1", nullptr},
        {"TM1P", "Macmini5,1", nullptr},
        {"TM0r", "MacPro6,1", "SMC DIMM SLOTS 0/1 VOLTAGE REGULATOR"},
        {"TM1r", "MacPro6,1", "SMC DIMM SLOTS 2/3 VOLTAGE REGULATOR"},
        {"TM0r", "iMac12,2", nullptr},
        {"TM3p", "iMac15,1", "SMC MEMORY MODULE SLOT 4"}, {"TM0p", "iMac16,2", "SMC MEMORY MODULE SLOT 1"},
        {"TM2p", "iMac14,2", "SMC MEMORY MODULE SLOT 3"}, {"TM5p", "iMac14,4", nullptr},
        {"TM0p", "iMac14,3", "SMC MEMORY SLOTS"}, // not a late iMac: the general rows
        {"TM0p", "MacPro6,1", "SMC DIMM SLOTS 0/1 TOP PROXIMITY"},
        {"TM1p", "MacPro6,1", "SMC DIMM SLOTS 2/3 TOP PROXIMITY"},
        {"TM2p", "MacPro6,1", nullptr},
        {"TM0p", "iMac12,2", "SMC MEMORY SLOTS"}, {"TM2p", "iMac12,2", "SMC MLB TEMPERATURE"},
        {"TM1p", "iMac12,2", nullptr},
        {"TMLB", "iMac15,1", "SMC PLATFORM CONTROLLER HUB"},
        {"TM8P", "Xserve3,1", "SMC MEMORY BANK B POS 0"}, {"TM8P", "MacPro6,1", "SMC MEMORY BANK B POS 1"},
        {"TMFS", "iMac12,2", "SMC MEMORY MODULE B8"}, {"TM0S", "Xserve3,1", "SMC MEMORY MODULE A0"},
        {"TMaP", "iMac12,2", nullptr}, {"TMGP", "iMac12,2", nullptr},
        {"TM2P", "MacBookPro5,1", "SMC VOLTAGE REGULATOR AREA"}, {"TM1P", "MacBook5,1", "SMC MEMORY OUTGOING AIR"},
        {"TM0P", "MacBookAir4,1", "SMC BATTERY CHARGER PROXIMITY"}, {"TM3P", "MacBookPro5,1", nullptr},
        {"TMLB", "MacBookPro5,1", nullptr}, {"TM0p", "MacBookPro5,1", nullptr},
    };
    expectLocations(cases, false);
}

TEST(TEVKnownSMCKeys, LocatesElectricKeysByRulesAndTable)
{
    const Case cases[] = {
        {"IN0C", "MacBookPro8,1", nullptr},            {"PN0C", "MacBookPro8,3", nullptr},
        {"PN0R", "MacBookPro8,2", nullptr},            {"VN0C", "MacBookPro8,1", "SMC NORTHBRIDGE"},
        {"IN0C", "MacBookPro9,1", "SMC NORTHBRIDGE"},  {"PN0R", "MacPro5,1", "SMC NORTHBRIDGE VCORE"},
        {"V18C", "iMac12,2", "SMC 1.8V LINE"},         {"P18C", "iMac12,2", "SMC 1.8V LINE"},
        {"V50R", "iMac12,2", "SMC 5V LINE"},           {"I50R", "iMac12,2", "SMC PCH 1.05V LINE"},
        {"P50R", "iMac12,2", nullptr},                 {"VACC", "iMac12,2", "SMC CLOCK CALIBRATION VOLTAGE"},
        {"IACC", "iMac12,2", nullptr},                 {"PAPC", "iMac12,2", "SMC WLAN CARD"},
        {"VA0C", "iMac12,2", nullptr},
        {"IB0R", "MacBookPro5,1", "SMC BATTERY I-SENSE"}, {"IB0L", "MacBookPro5,1", "SMC BATTERY CURRENT"},
        {"VB0L", "MacBookPro5,1", nullptr},            {"IBAC", "MacBookPro5,1", "SMC BATTERY CURRENT"},
        {"PBAC", "MacBookPro5,1", nullptr},            {"PBTC", "MacBookPro5,1", "SMC BLUETOOTH"},
        {"PC20", "iMac12,2", "SMC SUM CPU CORE AND CHIPSET"},
        {"VC1B", "MacPro3,1", "SMC CPU 1 FRONT SIDE BUS TERMINATION"},
        {"ICTM", "iMac12,2", "SMC INTEGRATED GPU AMPERAGE MONITOR"}, {"IC0M", "iMac12,2", "SMC CPU MEMORY LINE"},
        {"VCFR", "iMac12,2", "SMC VOLTAGE REGULATOR"}, {"ICFR", "iMac12,2", nullptr},
        {"VCTR", "MacPro6,1", "SMC RISER CARD 12V LINE"}, {"VCTR", "iMac12,2", nullptr},
        {"ID0R", "iMac12,2", "SMC DC INPUT"},          {"IDTR", "iMac12,2", "SMC DC INPUT"},
        {"ID0R", "MacBookPro8,1", nullptr},            {"VD0r", "MacBookPro8,1", "SMC DC V-SENSE"},
        {"VD5R", "iMac12,2", "SMC 12V S5 LINE"},       {"VG0c", "MacBookPro5,1", "SMC GPU 1 V-SENSE"},
        {"IG0R", "iMac14,2", "SMC MXM GRAPHICS MODULE"}, {"IG0R", "MacPro6,1", "SMC GRAPHICS CARD A 12V LINE"},
        {"IG0R", "MacBookPro5,1", "SMC GPU SUPPLY"},   {"PG0R", "Macmini6,1", "SMC GPU SUPPLY"},
        {"IG1R", "MacPro6,1", "SMC GRAPHICS CARD B 12V LINE"}, {"IG1R", "iMac12,2", nullptr},
        {"VG1S", "MacPro6,1", "SMC GRAPHICS CARD B VDDCI LINE"}, {"VG1S", "iMac12,2", nullptr},
        {"VG0C", "iMac12,2", "SMC GPU SUPPLY 1"},      {"IG4C", "MacBookPro5,1", "SMC GPU FRAMEBUFFER"},
        {"IG2C", "MacBookAir5,1", "SMC GPU VDDCI I-SENSE"}, {"IG0C", "MacBookPro5,1", nullptr},
        {"VH5Z", "MacPro5,1", "SMC OPTICAL DISK DRIVE"}, {"VH2Z", "MacPro5,1", "SMC HARD DRIVE 2 12V LINE"},
        {"VM1S", "MacPro5,1", "SMC MEMORY VRM SUPPLY 1"}, {"VM2C", "MacPro5,1", nullptr},
        {"VN1C", "MacPro3,1", "SMC NORTHBRIDGE 2"},    {"PPB1", "MacBookPro5,1", "SMC DISCRETE BATTERY"},
        {"VR2R", "iMac12,2", nullptr},                 {"VR54", "iMac12,2", "SMC 5V LINE S4 LOAD SIDE"},
        {"VSDC", "MacBookPro5,1", "SMC SSD SUPPLY"},   {"VSDC", "iMac12,2", "SMC CPU/VRM SUPPLY D"},
        {"VSCC", "MacBookAir4,1", "SMC SOUTHBRIDGE VCC"}, {"VS:C", "iMac12,2", "SMC CPU/VRM SUPPLY :"},
        {"VSGC", "iMac12,2", nullptr},                 {"ITAR", "MacBookPro13,1", "SMC TRACKPAD ACTUATOR"},
        {"PULC", "MacBookPro13,1", "SMC USB-C/THUNDERBOLT LEFT SIDE"}, {"VVxS", "MacPro3,1", "SMC MAINBOARD MONITOR x"},
        {"VeES", "MacPro5,1", "SMC PCIE SLOTS 12V RAIL"}, {"Ve1S", "MacPro5,1", "SMC PCIE SLOT 1"},
        {"VeBS", "MacPro5,1", "SMC PCIE SLOT 2 BOOSTER CONNECTOR"}, {"Ve5S", "MacPro5,1", "SMC PCI SLOT 5 12V LINE"},
        {"Vp3C", "Xserve3,1", "SMC PSU 2 LINE 2"},     {"Vp/C", "Xserve3,1", "SMC PSU 1 LINE 0"},
        {"Vs2S", "MacPro5,1", "SMC EXPANSION SLOT 2"},
    };
    expectLocations(cases, true);
}

TEST(TEVKnownSMCKeys, NamesProcessorChipsByTheComputersChipCount)
{
    const Case cases[] = {
        {"VC0C", "MacPro5,1", "SMC CPU A", 2},        {"VC1C", "MacPro5,1", "SMC CPU B", 2},
        {"VC2C", "MacPro5,1", "SMC CPU SUPPLY 2", 2}, {"VC0C", "iMac12,2", "SMC CPU SUPPLY 0", 0},
        {"VC8C", "MacPro5,1", "SMC CPU I", 9},        {"VC9C", "MacPro5,1", "SMC CPU 9", 12},
        {"VC0C", "MacBookPro8,1", nullptr, 2},        {"VC2C", "MacBookPro8,1", nullptr, 2},
        {"VCAC", "MacBookPro8,2", nullptr, 1},        {"VC0c", "MacBookPro8,1", "SMC CPU VOLTAGE SENSE", 1},
        {"VCAC", "iMac14,2", "SMC CPU IA CORE", 1},   {"PCTC", "iMac14,2", "SMC CPU-INTEGRATED GRAPHICS", 1},
        {"PCSC", "iMac14,2", "SMC CPU SYSTEM AGENT", 1}, {"VCXC", "iMac14,2", "SMC CPU X", 1},
    };
    expectLocations(cases, true);
}

TEST(TEVKnownSMCKeys, EveryKnownKeyCarriesItsKeyAndIdentifierCode)
{
    // Every character some row tests, plus neighbours and characters outside ASCII.
    QString alphabet = QStringLiteral("0123456789:/ABCDEFGHILMNOPRSTVWZabcdehmprst");
    for (const char16_t odd : {u'\0', u'\xe9', u'\xd800', u'\xffff'})
        alphabet += QChar(odd);
    const Model models[] = {{"", 0}, {"MacBookPro8,1", 1}, {"MacPro6,1", 2}, {"MacPro5,1", 2}, {"Macmini5,1", 1}};
    const struct {
        QChar kind;
        const char* word;
        qint64 quantity;
    } kinds[] = {{u'T', "temperature", 0}, {u'V', "voltage", 2}, {u'I', "current", 3}, {u'P', "power", 4}};

    qsizetype known = 0;
    QString key(4, QChar()); // filled in place: the loop runs a million keys
    for (const Model& model : models) {
        for (const auto& kind : kinds) {
            for (const QChar k1 : alphabet) {
                for (const QChar k2 : alphabet) {
                    for (const QChar k3 : alphabet) {
                        key[0] = kind.kind;
                        key[1] = k1;
                        key[2] = k2;
                        key[3] = k3;
                        const bool temperature = kind.quantity == 0;
                        const auto description = temperature ? TEVKnownSMCKeys::temperatureDescription(key, model)
                                                             : TEVKnownSMCKeys::electricDescription(key, model);
                        if (!description)
                            continue;
                        ++known;
                        const QString code = QString(QChar(char16_t(k1.unicode() + 1)))
                            + QChar(char16_t(k3.unicode() + 2)) + QChar(char16_t(k2.unicode() + 3));
                        const QString location = description->value("LocationID").toString();
                        ASSERT_EQ(description->value("SMCKey"), key);
                        ASSERT_EQ(description->value("UniqueID"),
                                  QStringLiteral("smc.%1.").arg(QLatin1StringView(kind.word)) + code)
                            << key.toStdString();
                        ASSERT_TRUE(location.startsWith(u"SMC ") || location == u"SMB NORTHBRIDGE CHIP DIE")
                            << location.toStdString();
                        ASSERT_FALSE(location.contains(u'%')) << location.toStdString();
                        if (temperature) {
                            ASSERT_EQ(description->size(), 3);
                        } else {
                            ASSERT_EQ(description->size(), 4);
                            ASSERT_EQ(description->value("Quantity"), QVariant(kind.quantity));
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(known, 10000);
}
