#include "sensors/TEVKnownSMCKeys.h"

#include "sensors/TEVMachineInfo.h"

#include <initializer_list>
#include <span>

namespace TEVKnownSMCKeys {

namespace {

// Model names in a test are '|'-separated; a name with a comma is one exact model code, any other name is a
// prefix ("MacPro4" is every MacPro4,x).
#define KV_LATE_IMACS "iMac14,2|iMac14,4|iMac15,1|iMac16|iMac17"
#define KV_MEMORY_GROUPS "MacBook|MacPro4|MacPro5|Macmini5"

bool namesModel(const char* names, const QString& code)
{
    for (const char* start = names;; ++start) {
        const char* end = start;
        while (*end && *end != '|')
            ++end;
        const QLatin1StringView name(start, end - start);
        if (name.contains(u',') ? code == name : code.startsWith(name))
            return true;
        if (!*end)
            return false;
        start = end;
    }
}

bool inSet(char16_t c, const char* set)
{
    for (; *set; ++set) {
        if (c == char16_t(uchar(*set)))
            return true;
    }
    return false;
}

// TA0P is not described from iMac13 on: "iMac1" with characters 5-6 (from 1) reading above 12.
bool hasAmbientAirSensor(const QString& code)
{
    if (!code.startsWith(u"iMac1") || code.size() < 6)
        return true;
    int number = 0;
    for (const QChar c : QStringView(code).mid(4, 2)) {
        if (c < u'0' || c > u'9')
            break;
        number = number * 10 + (c.unicode() - u'0');
    }
    return number <= 12;
}

struct ModelTest {
    const char* anyOf = nullptr;  // the model must be one of these
    const char* noneOf = nullptr; // and none of these
    bool (*holds)(const QString&) = nullptr;

    bool matches(const QString& code) const
    {
        return (!anyOf || namesModel(anyOf, code)) && (!noneOf || !namesModel(noneOf, code))
            && (!holds || holds(code));
    }
};

constexpr ModelTest anyModel{};
constexpr ModelTest only(const char* names) { return {names, nullptr, nullptr}; }
constexpr ModelTest except(const char* names) { return {nullptr, names, nullptr}; }
constexpr ModelTest kAmbientAir{nullptr, nullptr, hasAmbientAirSensor};
constexpr ModelTest kNotMacBookPro8 = except("MacBookPro8");
constexpr ModelTest kMacPro61 = only("MacPro6,1");
constexpr ModelTest kNotMacPro61 = except("MacPro6,1");
// Memory keys: MacBook, MacPro4/5 and Macmini5 have their own rows; the rest are the general models.
constexpr ModelTest kGeneralMemory = except(KV_MEMORY_GROUPS);
constexpr ModelTest kPlainMemory = except(KV_MEMORY_GROUPS "|MacPro6,1|" KV_LATE_IMACS);

// The index character k2. n is k2 - '0' as an unsigned 16-bit number, so only digits give 0-9.
struct IndexTest {
    enum Kind { Any, OneOf, NoneOf, Range, AtMost, BelowChips };
    Kind kind = Any;
    const char* chars = nullptr; // OneOf, NoneOf; Range and BelowChips: first and last character
    quint16 limit = 0;           // AtMost

    bool matches(char16_t c, quint64 chips) const
    {
        switch (kind) {
        case Any:
            return true;
        case OneOf:
            return inSet(c, chars);
        case NoneOf:
            return !inSet(c, chars);
        case Range:
            return c >= char16_t(chars[0]) && c <= char16_t(chars[1]);
        case AtMost:
            return quint16(c - u'0') <= limit;
        case BelowChips:
            return c >= char16_t(chars[0]) && c <= char16_t(chars[1]) && quint64(c - u'0') < chips;
        }
        return false;
    }
};

constexpr IndexTest anyIndex{};
constexpr IndexTest is(const char* chars) { return {IndexTest::OneOf, chars, 0}; }
constexpr IndexTest isNot(const char* chars) { return {IndexTest::NoneOf, chars, 0}; }
constexpr IndexTest range(const char* firstAndLast) { return {IndexTest::Range, firstAndLast, 0}; }
constexpr IndexTest nAtMost(quint16 limit) { return {IndexTest::AtMost, nullptr, limit}; }
constexpr IndexTest kHexDigit = is("0123456789ABCDEF");
constexpr IndexTest kProcessorChip{IndexTest::BelowChips, "08", 0};

// What fills the location's %C / %c placeholders.
enum class Argument {
    None,
    K2,
    K2Plus1,
    Letter,         // k2 + 17: a digit becomes a capital letter
    LetterIfDigit,  // Letter for a digit, k2 itself otherwise
    K3,
    K3Plus4,
    FirstOrSecond,  // 1 for k2 = 0, else 2
    PairOfN,        // 1 + (d div 2), 1 + (d mod 2); d = k2 - '0', signed
    BankPosition,   // bank A + (h div 8), position h mod 8 (+1 except on Xserve); h = k2 as hex digit
    Booster,        // k2 - 16: A gives 1, B gives 2
};

struct Row {
    char k1;
    const char* k3; // nullptr: any
    IndexTest k2;
    ModelTest model;
    const char* location;
    Argument argument = Argument::None;
    const char* kinds = nullptr; // electric only; nullptr: any of V, I, P
};

// Tried in this order; the first row that fits decides, none fitting means the key is not known.
const Row kTemperatureRows[] = {
    {'A', "p", is("0"), anyModel, "SMC MLB AMBIENT TEMPERATURE"},
    {'A', "S", anyIndex, anyModel, "SMC PCI SLOT %C POS %C", Argument::PairOfN},
    {'A', "P", isNot("0"), anyModel, "SMC AMBIENT AIR POSITION %C", Argument::K2Plus1},
    {'A', "P", is("0"), kAmbientAir, "SMC AMBIENT AIR"},
    {'B', "T", is("0"), anyModel, "SMC BATTERY"},
    {'B', "T", range("14"), anyModel, "SMC BATTERY POSITION %C", Argument::K2Plus1},
    {'C', "C", range("19"), anyModel, "SMC CPU CORE %c", Argument::K2},
    {'C', "D", anyIndex, anyModel, "SMC CPU %c DIODE", Argument::LetterIfDigit},
    {'C', "H", anyIndex, anyModel, "SMC CPU %c HEAT SINK", Argument::LetterIfDigit},
    {'C', "P", nAtMost(4), anyModel, "SMC CPU %c PROXIMITY", Argument::Letter},
    {'C', "P", is("H"), anyModel, "SMC CHARGER PROXIMITY TEMPERATURE"},
    {'C', "p", is("1"), kMacPro61, "SMC CPU VOLTAGE REGULATOR"},
    {'C', "p", is("0"), kMacPro61, "SMC CPU A PROXIMITY"},
    {'C', "p", nAtMost(4), kNotMacPro61, "SMC CPU %c PROXIMITY", Argument::Letter},
    {'G', "d", anyIndex, kMacPro61, "SMC GRAPHICS CARD %C CHIP", Argument::Letter},
    {'G', "m", anyIndex, kMacPro61, "SMC GRAPHICS CARD %C VIDEO RAM PROXIMITY", Argument::Letter},
    {'G', "p", anyIndex, kMacPro61, "SMC GRAPHICS CARD %C LOCAL TEMPERATURE", Argument::Letter},
    {'G', "r", anyIndex, kMacPro61, "SMC GRAPHICS CARD %C VOLTAGE REGULATOR", Argument::Letter},
    {'G', "d", is("0"), kNotMacPro61, "SMC GPU CHIP TEMPERATURE"},
    {'G', "H", is("0"), kNotMacPro61, "SMC GPU 1 HEAT SINK"},
    {'G', "D", anyIndex, kNotMacPro61, "SMC GPU DIODE"},
    {'G', "P", is("0"), kNotMacPro61, "SMC GPU 1 CHIP"},
    {'G', "P", is("V"), kNotMacPro61, "SMC GPU VRAM"},
    {'G', "p", is("0"), kNotMacPro61, "SMC GPU PROXIMITY TEMPERATURE"},
    {'H', "A", is("0"), anyModel, "SMC SSD TEMPERATURE A"},
    {'H', "B", is("0"), anyModel, "SMC SSD TEMPERATURE B"},
    {'H', "P", nAtMost(5), only("Xserve|MacPro4|MacPro5"), "SMC DRIVE BAY %C", Argument::K2},
    {'H', "P", nAtMost(5), except("Xserve|MacPro4|MacPro5"), "SMC DRIVE BAY %C", Argument::K2Plus1},
    {'H', "P", is("S"), anyModel, "SMC SSD BAY"},
    {'H', "C", is("S"), anyModel, "SMC THUNDERBOLT"},
    {'H', "C", is("0"), anyModel, "SMC SSD TEMPERATURE C"},
    {'I', "t", is("0"), anyModel, "SMC A/B GRAPHICS RISER CARD"},
    {'I', "P", nAtMost(9), anyModel, "SMC THUNDERBOLT PORT %C", Argument::K2Plus1},
    {'I', "p", is("1"), anyModel, "SMC VOLTAGE REGULATOR PROXIMITY"},
    {'I', "p", is("0"), kMacPro61, "SMC I/O BOARD PROXIMITY"},
    {'I', "p", is("0"), kNotMacPro61, "SMC THUNDERBOLT TRANSMITTER"},
    {'L', "P", is("0"), except("iMac13"), "SMC LCD PROXIMITY"},
    {'L', "p", is("0"), anyModel, "SMC LCD TEMPERATURE"},
    {'L', "p", is("1"), anyModel, "SMC LCD TCON TEMPERATURE"},
    {'M', nullptr, is("A"), only("MacPro4|MacPro5"), "SMC MEMORY MODULE SLOT %C", Argument::K3},
    {'M', nullptr, is("B"), only("MacPro4|MacPro5"), "SMC MEMORY MODULE SLOT %C", Argument::K3Plus4},
    {'M', "P", is("0"), only("Macmini5"), "SMC MEMORY SLOTS"},
    {'M', "S", isNot("B"), only("Macmini5"), "SMC MEMORY MODULE SLOT %C", Argument::FirstOrSecond},
    {'M', "r", is("0"), kMacPro61, "SMC DIMM SLOTS 0/1 VOLTAGE REGULATOR"},
    {'M', "r", is("1"), kMacPro61, "SMC DIMM SLOTS 2/3 VOLTAGE REGULATOR"},
    {'M', "p", nAtMost(4), only(KV_LATE_IMACS), "SMC MEMORY MODULE SLOT %C", Argument::K2Plus1},
    {'M', "p", is("0"), kMacPro61, "SMC DIMM SLOTS 0/1 TOP PROXIMITY"},
    {'M', "p", is("1"), kMacPro61, "SMC DIMM SLOTS 2/3 TOP PROXIMITY"},
    {'M', "p", is("0"), kPlainMemory, "SMC MEMORY SLOTS"},
    {'M', "p", is("2"), kPlainMemory, "SMC MLB TEMPERATURE"},
    {'M', "B", is("L"), kGeneralMemory, "SMC PLATFORM CONTROLLER HUB"},
    {'M', "P", kHexDigit, kGeneralMemory, "SMC MEMORY BANK %C POS %C", Argument::BankPosition},
    {'M', "S", kHexDigit, kGeneralMemory, "SMC MEMORY MODULE %C%C", Argument::BankPosition},
    {'M', "P", is("2"), only("MacBook"), "SMC VOLTAGE REGULATOR AREA"},
    {'M', "P", is("1"), only("MacBook"), "SMC MEMORY OUTGOING AIR"},
    {'M', "P", is("0"), only("MacBook"), "SMC BATTERY CHARGER PROXIMITY"},
    {'N', "C", is("0"), anyModel, "SMC NORTHBRIDGE CORE"},
    {'N', "P", anyIndex, anyModel, "SMC NORTHBRIDGE POS %C", Argument::K2Plus1},
    {'N', "H", anyIndex, anyModel, "SMC NORTHBRIDGE HEAT SINK"},
    {'N', "D", anyIndex, anyModel, "SMB NORTHBRIDGE CHIP DIE"},
    {'O', "P", anyIndex, only("Macmini4,1"), "SMC SATA DRIVE 2"},
    {'O', "P", anyIndex, except("Macmini4,1"), "SMC OPTICAL DRIVE"},
    {'P', "D", is("C"), anyModel, "SMC PLATFORM CONTROLLER HUB CHIP TEMPERATURE"},
    {'P', "P", anyIndex, anyModel, "SMC PLATFORM CONTROLLER HUB"},
    {'S', "P", is("2"), anyModel, "SMC CAMERA PROXIMITY"},
    {'S', "C", anyIndex, anyModel, "SMC EXPANSION SLOTS"},
    {'T', "D", is("R"), anyModel, "SMC RIGHT THUNDERBOLT CHIP"},
    {'T', "D", is("L"), anyModel, "SMC LEFT THUNDERBOLT CHIP"},
    {'V', "P", is("0"), anyModel, "SMC AIR VENT EXIT"},
    {'W', "pP", anyIndex, anyModel, "SMC WLAN CARD"},
    {'a', "P", is("0"), anyModel, "SMC AIR INLET"},
    {'a', "C", is("R"), anyModel, "SMC AIRFLOW RIGHT SIDE"},
    {'a', "C", is("L"), anyModel, "SMC AIRFLOW LEFT SIDE"},
    {'b', "p", is("0"), anyModel, "SMC BLC PROXIMITY TEMPERATURE"},
    {'e', "t", is("0"), kMacPro61, "SMC PCIE SWITCH"},
    {'e', "t", is("0"), kNotMacPro61, "SMC THUNDERBOLT"},
    {'e', "S", is("E5"), anyModel, "SMC RAID CARD"},
    {'e', "S", anyIndex, anyModel, "SMC PCIE SLOT %C", Argument::K2},
    {'h', "H", nAtMost(8), anyModel, "SMC MAIN HEAT SINK %C", Argument::K2Plus1},
    {'h', "H", anyIndex, anyModel, "SMC MAIN HEAT SINK %C", Argument::K2},
    {'h', "N", is("0"), anyModel, "SMC NAND FLASH MEMORY"},
    {'h', "P", is("0"), anyModel, "SMC CPU A PROXIMITY"},
    {'h', "R", is("0"), anyModel, "SMC INPUT/OUTPUT CHIP TEMPERATURE"},
    {'m', "P", is("0"), anyModel, "SMC MAIN LOGIC BOARD"},
    {'m', "p", is("1"), only("iMac14,1"), "SMC MLB CPU PROXIMITY TEMPERATURE"},
    {'m', "p", is("0"), only("iMac14,1"), "SMC MLB DIMM SLOTS TEMPERATURE"},
    {'m', "p", is("2"), only(KV_LATE_IMACS), "SMC MLB CPU BACKSIDE TEMPERATURE"},
    {'m', "p", is("1"), only(KV_LATE_IMACS), "SMC MLB GPU TEMPERATURE"},
    {'m', "p", is("0"), only(KV_LATE_IMACS), "SMC MLB PSU TEMPERATURE"},
    {'m', "p", is("0"), kMacPro61, "SMC MLB PROXIMITY"},
    {'p', "C", anyIndex, anyModel, "SMC POWER SUPPLY SENSOR %C", Argument::K2Plus1},
    {'p', "H", is("3"), anyModel, "SMC PRIMARY HEATSINK"},
    {'p', "H", is("2"), anyModel, "SMC SECONDARY HEATSINK"},
    {'p', "P", nAtMost(9), anyModel, "SMC POWER SUPPLY POSITION %C", Argument::K2Plus1},
    {'p', "h", is("2"), anyModel, "SMC POWER SUPPLY T2 HEATSINK TEMPERATURE"},
    {'p', "t", is("2"), anyModel, "SMC POWER SUPPLY"},
    {'s', "S", is("0"), anyModel, "SMC BOTTOM SKIN"},
    {'s', "P", is("1"), anyModel, "SMC RIGHT PALM REST"},
    {'s', "P", is("0"), anyModel, "SMC LEFT PALM REST"},
};

// The first five rows are the lines that hold for every kind before the per-location table.
const Row kElectricRows[] = {
    {'1', "C", is("8"), anyModel, "SMC 1.8V LINE"},
    {'5', "R", is("0"), anyModel, "SMC 5V LINE", Argument::None, "V"},
    {'5', "R", is("0"), anyModel, "SMC PCH 1.05V LINE", Argument::None, "I"},
    {'A', "C", is("C"), anyModel, "SMC CLOCK CALIBRATION VOLTAGE", Argument::None, "V"},
    {'A', "C", is("P"), anyModel, "SMC WLAN CARD"},
    {'B', "R", is("0"), anyModel, "SMC BATTERY I-SENSE"},
    {'B', "L", is("0"), anyModel, "SMC BATTERY CURRENT", Argument::None, "I"},
    {'B', "R", is("L"), anyModel, "SMC BACKLIGHT"},
    {'B', "C", is("A"), anyModel, "SMC BATTERY CURRENT", Argument::None, "I"},
    {'B', "C", is("L"), anyModel, "SMC BACKLIGHT"},
    {'B', "C", is("T"), anyModel, "SMC BLUETOOTH"},
    {'C', "0", is("2"), anyModel, "SMC SUM CPU CORE AND CHIPSET"},
    {'C', "0", is("S"), anyModel, "SMC CPU CORE"},
    {'C', "B", anyIndex, anyModel, "SMC CPU %C FRONT SIDE BUS TERMINATION", Argument::K2},
    {'C', "C", kProcessorChip, kNotMacBookPro8, "SMC CPU %c", Argument::Letter},
    {'C', "C", range("08"), kNotMacBookPro8, "SMC CPU SUPPLY %C", Argument::K2},
    {'C', "C", is("A"), kNotMacBookPro8, "SMC CPU IA CORE"},
    {'C', "C", is("E"), kNotMacBookPro8, "SMC CPU EDRAM"},
    {'C', "C", is("GT"), kNotMacBookPro8, "SMC CPU-INTEGRATED GRAPHICS"},
    {'C', "C", is("M"), kNotMacBookPro8, "SMC CAMERA"},
    {'C', "C", is("P"), kNotMacBookPro8, "SMC CPU PACKAGE CORE"},
    {'C', "C", is("S"), kNotMacBookPro8, "SMC CPU SYSTEM AGENT"},
    {'C', "C", anyIndex, kNotMacBookPro8, "SMC CPU %C", Argument::K2},
    {'C', "c", anyIndex, anyModel, "SMC CPU VOLTAGE SENSE"},
    {'C', "M", is("0"), anyModel, "SMC CPU MEMORY LINE"},
    {'C', "M", is("A"), anyModel, "SMC CPU AMPERAGE MONITOR"},
    {'C', "M", is("TG"), anyModel, "SMC INTEGRATED GPU AMPERAGE MONITOR"},
    {'C', "G", anyIndex, anyModel, "SMC CPU PACKAGE GPU"},
    {'C', "T", anyIndex, anyModel, "SMC CPU PACKAGE TOTAL"},
    {'C', "R", is("0"), anyModel, "SMC CPU HIGH SIDE"},
    {'C', "R", is("F"), anyModel, "SMC VOLTAGE REGULATOR", Argument::None, "V"},
    {'C', "R", is("T"), kMacPro61, "SMC RISER CARD 12V LINE"},
    {'D', "r", is("P"), anyModel, "SMC AC/DC"},
    {'D', "r", is("0"), anyModel, "SMC DC V-SENSE"},
    {'D', "R", is("0T"), kNotMacBookPro8, "SMC DC INPUT"},
    {'D', "R", is("2"), kNotMacBookPro8, "SMC AC/DC"},
    {'D', "R", is("5"), kNotMacBookPro8, "SMC 12V S5 LINE"},
    {'F', "R", anyIndex, anyModel, "SMC FIREWIRE PORTS"},
    {'G', "c", anyIndex, anyModel, "SMC GPU %C V-SENSE", Argument::K2Plus1},
    {'G', "F", anyIndex, anyModel, "SMC GPU FRAME BUFFER 1.5V LINE"},
    {'G', "R", is("0"), only("iMac"), "SMC MXM GRAPHICS MODULE"},
    {'G', "R", is("0"), kMacPro61, "SMC GRAPHICS CARD A 12V LINE"},
    {'G', "R", is("0"), except("iMac|MacPro6,1"), "SMC GPU SUPPLY"},
    {'G', "R", is("1"), kMacPro61, "SMC GRAPHICS CARD B 12V LINE"},
    {'G', "S", anyIndex, kMacPro61, "SMC GRAPHICS CARD %C VDDCI LINE", Argument::Letter},
    {'G', "C", anyIndex, except("MacBook"), "SMC GPU SUPPLY %C", Argument::K2Plus1},
    {'G', "C", is("4"), only("MacBook"), "SMC GPU FRAMEBUFFER"},
    {'G', "C", is("3"), only("MacBook"), "SMC GPU 0.95V I-SENSE"},
    {'G', "C", is("2"), only("MacBook"), "SMC GPU VDDCI I-SENSE"},
    {'H', "2", is("0"), anyModel, "SMC HARD DRIVE 12V LINE"},
    {'H', "5", is("0"), anyModel, "SMC HARD DRIVE 5V LINE"},
    {'H', "C", is("C"), anyModel, "SMC FLASH MEMORY 3.3V LINE"},
    {'H', "C", is("D"), anyModel, "SMC SSD"},
    {'H', "C", is("N"), anyModel, "SMC FLASH MEMORY NAND 2.7V LINE"},
    {'H', "C", is("S"), anyModel, "SMC THUNDERBOLT"},
    {'H', "R", is("1"), anyModel, "SMC SSD 3.3V S0 LINE"},
    {'H', "R", is("0"), anyModel, "SMC HARD DRIVE"},
    {'H', "Z", is("5"), anyModel, "SMC OPTICAL DISK DRIVE"},
    {'H', "Z", anyIndex, anyModel, "SMC HARD DRIVE %C 12V LINE", Argument::K2},
    {'I', "R", is("1"), anyModel, "SMC IO BOARD"},
    {'I', "R", is("0"), anyModel, "SMC IO CHIP"},
    {'K', "C", is("B"), anyModel, "SMC KEYBOARD BACKLIGHT"},
    {'L', "C", is("D"), anyModel, "SMC LCD PANEL"},
    {'M', "S", anyIndex, anyModel, "SMC MEMORY VRM SUPPLY %C", Argument::K2},
    {'M', "R", is("T"), anyModel, "SMC MEMORY 12V LINE"},
    {'M', "R", is("0"), anyModel, "SMC DIMM 1.5V S3 LINE"},
    {'M', "C", is("0"), anyModel, "SMC DDR3 MEMORY 1.35V LINE"},
    {'M', "C", is("1"), anyModel, "SMC 1.8V S3 LINE"},
    {'M', "C", is("3"), anyModel, "SMC DDR3 MEMORY S3 LINE"},
    {'M', "C", is("C"), anyModel, "SMC CPU/MEMORY 1.2V LINE"},
    {'N', "R", is("0"), anyModel, "SMC NORTHBRIDGE VCORE"},
    {'N', "C", is("0"), anyModel, "SMC NORTHBRIDGE"},
    {'N', "C", anyIndex, anyModel, "SMC NORTHBRIDGE %C", Argument::K2Plus1},
    {'O', "Z", is("0"), anyModel, "SMC OPTICAL DISK DRIVE 12V LINE"},
    {'O', "R", is("3"), anyModel, "SMC 3.3V LINE OTHER"},
    {'O', "R", is("5"), anyModel, "SMC 5V LINE OTHER"},
    {'P', "1", is("B"), anyModel, "SMC DISCRETE BATTERY"},
    {'P', "r", anyIndex, anyModel, "SMC PBUS V-SENSE"},
    {'P', "R", anyIndex, anyModel, "SMC POWER SUPPLY/BATTERY"},
    {'R', "4", is("5"), anyModel, "SMC 5V LINE S4 LOAD SIDE"},
    {'R', "5", is("3"), anyModel, "SMC 3.3V LINE S5 LOAD SIDE"},
    {'R', "C", is("5"), anyModel, "SMC 5V S0 LINE"},
    {'R', "C", is("3"), anyModel, "SMC 3.3V S0 LINE"},
    {'R', "R", is("3"), anyModel, "SMC MLB 3.3V S5 LINE"},
    {'R', "R", is("1"), anyModel, "SMC 1.05V S0 LINE"},
    {'S', "C", is("D"), only("MacBook"), "SMC SSD SUPPLY"},
    {'S', "C", is("C"), only("MacBook"), "SMC SOUTHBRIDGE VCC"},
    {'S', "C", range("0F"), anyModel, "SMC CPU/VRM SUPPLY %C", Argument::K2},
    {'S', "R", is("T"), anyModel, "SMC TOTAL SYSTEM SUPPLY"},
    {'T', "C", is("P"), anyModel, "SMC TRACKPAD ACTUATOR"},
    {'T', "R", is("A"), anyModel, "SMC TRACKPAD ACTUATOR"},
    {'T', "C", is("3"), anyModel, "SMC TRACKPAD AND KEYBOARD"},
    {'U', "C", is("R"), anyModel, "SMC USB-C/THUNDERBOLT RIGHT SIDE"},
    {'U', "C", is("L"), anyModel, "SMC USB-C/THUNDERBOLT LEFT SIDE"},
    {'V', "S", anyIndex, anyModel, "SMC MAINBOARD MONITOR %C", Argument::K2},
    {'e', "S", is("E"), anyModel, "SMC PCIE SLOTS 12V RAIL"},
    {'e', "S", range("14"), anyModel, "SMC PCIE SLOT %C", Argument::K2},
    {'e', "S", is("AB"), anyModel, "SMC PCIE SLOT %C BOOSTER CONNECTOR", Argument::Booster},
    {'e', "S", anyIndex, anyModel, "SMC PCI SLOT %C 12V LINE", Argument::K2},
    {'p', "C", anyIndex, anyModel, "SMC PSU %C LINE %C", Argument::PairOfN},
    {'s', "S", anyIndex, anyModel, "SMC EXPANSION SLOT %C", Argument::K2},
};

#undef KV_LATE_IMACS
#undef KV_MEMORY_GROUPS

struct Key {
    char16_t k0, k1, k2, k3;
};

int hexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    return c - u'A' + 10; // the row admits only 0-9 and A-F
}

// Character arithmetic wraps at 16 bits: each placeholder prints one UTF-16 unit.
QString characters(std::initializer_list<int> codes)
{
    QString out;
    for (const int code : codes)
        out += QChar(char16_t(code));
    return out;
}

QString arguments(Argument argument, const Key& key, const Model& model)
{
    const auto ch = [](int code) { return characters({code}); };
    switch (argument) {
    case Argument::None:
        return {};
    case Argument::K2:
        return ch(key.k2);
    case Argument::K2Plus1:
        return ch(key.k2 + 1);
    case Argument::Letter:
        return ch(key.k2 + 17);
    case Argument::LetterIfDigit:
        return ch(key.k2 >= u'0' && key.k2 <= u'9' ? key.k2 + 17 : key.k2);
    case Argument::K3:
        return ch(key.k3);
    case Argument::K3Plus4:
        return ch(key.k3 + 4);
    case Argument::FirstOrSecond:
        return ch(key.k2 == u'0' ? u'1' : u'2');
    case Argument::PairOfN: {
        const int d = int(key.k2) - int(u'0');
        return characters({u'1' + d / 2, u'1' + d % 2});
    }
    case Argument::BankPosition: {
        const int h = hexValue(key.k2);
        const int first = model.code.startsWith(u"Xserve") ? 0 : 1;
        return characters({u'A' + h / 8, u'0' + h % 8 + first});
    }
    case Argument::Booster:
        return ch(key.k2 - 16);
    }
    return {};
}

// Both %C and %c take the next argument character.
QString formatLocation(const char* format, const QString& args)
{
    QString out;
    qsizetype next = 0;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && (p[1] == 'C' || p[1] == 'c') && next < args.size()) {
            out += args[next++];
            ++p;
        } else {
            out += QLatin1Char(*p);
        }
    }
    return out;
}

std::optional<QString> location(std::span<const Row> rows, const Key& key, const Model& model)
{
    for (const Row& row : rows) {
        if (key.k1 != char16_t(uchar(row.k1)) || (row.k3 && !inSet(key.k3, row.k3))
            || (row.kinds && !inSet(key.k0, row.kinds)) || !row.k2.matches(key.k2, model.processorChipCount)
            || !row.model.matches(model.code))
            continue;
        return formatLocation(row.location, arguments(row.argument, key, model));
    }
    return std::nullopt;
}

// k1 + 1, k3 + 2, k2 + 3: TC0D gives "DF3".
QString identifierCode(const Key& key)
{
    return characters({key.k1 + 1, key.k3 + 2, key.k2 + 3});
}

std::optional<Key> splitKey(const QString& key)
{
    if (key.size() != 4)
        return std::nullopt;
    return Key{key[0].unicode(), key[1].unicode(), key[2].unicode(), key[3].unicode()};
}

} // namespace

Model localModel()
{
    const auto machine = TEVMachineInfo::sharedMachineInfo();
    return {machine->systemModelCode(), machine->processorChipCount()};
}

std::optional<QVariantMap> temperatureDescription(const QString& key, const Model& model)
{
    const auto parts = splitKey(key);
    if (!parts || parts->k0 != u'T' || key == u"TCTD")
        return std::nullopt;
    const auto text = location(kTemperatureRows, *parts, model);
    if (!text)
        return std::nullopt;
    return QVariantMap{
        {QStringLiteral("SMCKey"), key},
        {QStringLiteral("LocationID"), *text},
        {QStringLiteral("UniqueID"), QStringLiteral("smc.temperature.") + identifierCode(*parts)},
    };
}

std::optional<QVariantMap> electricDescription(const QString& key, const Model& model)
{
    const auto parts = splitKey(key);
    if (!parts)
        return std::nullopt;
    qint64 quantity = 0;
    QString word;
    switch (parts->k0) {
    case u'V':
        quantity = 2;
        word = QStringLiteral("voltage");
        break;
    case u'I':
        quantity = 3;
        word = QStringLiteral("current");
        break;
    case u'P':
        quantity = 4;
        word = QStringLiteral("power");
        break;
    default:
        return std::nullopt;
    }
    if (model.code.startsWith(u"MacBookPro8") && (key == u"IN0C" || key == u"PN0C" || key == u"PN0R"))
        return std::nullopt;
    const auto text = location(kElectricRows, *parts, model);
    if (!text)
        return std::nullopt;
    return QVariantMap{
        {QStringLiteral("SMCKey"), key},
        {QStringLiteral("LocationID"), *text},
        {QStringLiteral("UniqueID"), QStringLiteral("smc.") + word + u'.' + identifierCode(*parts)},
        {QStringLiteral("Quantity"), quantity},
    };
}

} // namespace TEVKnownSMCKeys
