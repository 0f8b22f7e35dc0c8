#include "platform/foundation/Color.h"

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestEnvironment.h"

#include <QVariantMap>

#include <gtest/gtest.h>

using namespace platform;

namespace {

UnarchiveOptions colorOptions()
{
    UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("NSColor")};
    return options;
}

std::shared_ptr<Color> decodeColor(const QByteArray& data)
{
    return objectAs<Color>(values::toObject(SequentialUnarchiver::unarchiveObjectWithData(data, colorOptions())));
}

QByteArray terminalSample(const QString& profile, const QString& slot)
{
    return kelvaro::test::readFile(
        kelvaro::test::testDataPath(QStringLiteral("archives/terminal-profiles/%1.%2.typedstream").arg(profile, slot)));
}

float byteComponent(int k)
{
    return float(k) * (1.0f / 255.0f);
}

// Stores keyed calls in a map, as far as Color uses them.
class MapKeyedCoder final : public Coder {
public:
    explicit MapKeyedCoder(QVariantMap values = {}) : values_(std::move(values)) {}
    bool allowsKeyedCoding() const override { return true; }
    bool isDecoding() const override { return !values_.isEmpty(); }
    void encodeValuesOfObjCTypes(const char*, const void* const*) override {}
    bool decodeValuesOfObjCTypes(const char*, void* const*) override { return false; }
    void encodeInt32(qint32 value, const QString& key) override { values_.insert(key, values::fromSigned(value)); }
    void encodeBytes(const QByteArray& bytes, const QString& key) override { values_.insert(key, values::fromData(bytes)); }
    qint32 decodeInt32ForKey(const QString& key) override { return qint32(values::toSigned(values_.value(key)).value_or(0)); }
    QByteArray decodeBytesForKey(const QString& key) override { return values::toData(values_.value(key)).value_or(QByteArray()); }
    void failWithReason(const QString& reason) override { failure_ = reason; }
    bool hasFailed() const override { return !failure_.isEmpty(); }
    const QVariantMap& values() const { return values_; }
    const QString& failure() const { return failure_; }

private:
    QVariantMap values_;
    QString failure_;
};

} // namespace

TEST(Color, DecodesDeviceRgbSolarizedToThePaletteExactly)
{
    struct Row {
        const char* slot;
        int r, g, b;
    };
    // The 2011 profile stores device RGB k/255: the published palette itself.
    const Row rows[] = {
        {"blackColour", 0x07, 0x36, 0x42},         {"redColour", 0xd3, 0x01, 0x02},
        {"greenColour", 0x85, 0x99, 0x00},         {"yellowColour", 0xb5, 0x89, 0x00},
        {"blueColour", 0x26, 0x8b, 0xd2},          {"magentaColour", 0xd3, 0x36, 0x82},
        {"cyanColour", 0x2a, 0xa1, 0x98},          {"whiteColour", 0xee, 0xe8, 0xd5},
        {"brightBlackColour", 0x00, 0x2b, 0x36},   {"brightRedColour", 0xcb, 0x4b, 0x16},
        {"brightGreenColour", 0x58, 0x6e, 0x75},   {"brightYellowColour", 0x65, 0x7b, 0x83},
        {"brightBlueColour", 0x83, 0x94, 0x96},    {"brightMagentaColour", 0x6c, 0x71, 0xc4},
        {"brightCyanColour", 0x93, 0xa1, 0xa1},    {"brightWhiteColour", 0xfd, 0xf6, 0xe3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.slot);
        const auto color = decodeColor(terminalSample(QStringLiteral("Solarized_Dark_2011-03-22"), QLatin1String(row.slot)));
        ASSERT_TRUE(color);
        EXPECT_EQ(color->colorSpace(), Color::Space::DeviceRGB);
        EXPECT_FLOAT_EQ(color->red(), float(row.r / 255.0));
        EXPECT_FLOAT_EQ(color->green(), float(row.g / 255.0));
        EXPECT_FLOAT_EQ(color->blue(), float(row.b / 255.0));
        EXPECT_EQ(color->alpha(), 1.0f);
    }
}

TEST(Color, DecodesCalibratedSolarizedOfBothProfilesAlike)
{
    struct Row {
        const char* slot;
        double r, g, b; // components × 255, as stored (the palette converted to a calibrated space)
    };
    const Row rows[] = {
        {"blackColour", 10.04, 40.83, 50.57},         {"blueColour", 32.52, 117.98, 199.49},
        {"brightBlackColour", 4.06, 32.26, 40.72},    {"brightBlueColour", 112.35, 129.96, 131.80},
        {"brightCyanColour", 129.03, 144.04, 143.73}, {"brightGreenColour", 70.56, 90.95, 97.66},
        {"brightMagentaColour", 88.72, 89.60, 183.07}, {"brightRedColour", 189.15, 54.38, 18.75},
        {"brightWhiteColour", 252.31, 244.28, 220.34}, {"brightYellowColour", 82.71, 103.83, 111.82},
        {"cyanColour", 37.43, 145.56, 133.88},        {"greenColour", 114.69, 137.99, 5.15},
        {"magentaColour", 198.23, 27.55, 110.97},     {"redColour", 208.91, 27.64, 36.07},
        {"whiteColour", 233.61, 226.95, 203.44},      {"yellowColour", 165.10, 119.22, 5.99},
    };
    for (const QString& profile : {QStringLiteral("Solarized_Dark_ansi"), QStringLiteral("Solarized_Light_ansi")}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(profile.toStdString() + " " + row.slot);
            const auto color = decodeColor(terminalSample(profile, QLatin1String(row.slot)));
            ASSERT_TRUE(color);
            EXPECT_EQ(color->colorSpace(), Color::Space::CalibratedRGB);
            EXPECT_NEAR(color->red() * 255.0, row.r, 0.006);
            EXPECT_NEAR(color->green() * 255.0, row.g, 0.006);
            EXPECT_NEAR(color->blue() * 255.0, row.b, 0.006);
            EXPECT_EQ(color->alpha(), 1.0f);
        }
    }
}

TEST(Color, EncodesTheBytesTheOriginalWrites)
{
    // Components as float32 literals, alpha 1 as the integer byte 01. (The profile's components are k × (1/255)
    // in float arithmetic, sometimes one unit in the last place above k/255.)
    const auto black = Color::rgb(Color::Space::DeviceRGB, byteComponent(7), byteComponent(54), byteComponent(66));
    EXPECT_EQ(SequentialArchiver::archivedDataWithRootObject(values::fromObject(black)),
              terminalSample(QStringLiteral("Solarized_Dark_2011-03-22"), QStringLiteral("blackColour")));
    // Integral components (blue 0) become plain integers.
    const auto green = Color::rgb(Color::Space::DeviceRGB, byteComponent(133), byteComponent(153), 0.0f);
    EXPECT_EQ(SequentialArchiver::archivedDataWithRootObject(values::fromObject(green)),
              terminalSample(QStringLiteral("Solarized_Dark_2011-03-22"), QStringLiteral("greenColour")));
}

TEST(Color, RoundTripsEverySpaceSequentially)
{
    const std::shared_ptr<Color> colors[] = {
        Color::rgb(Color::Space::CalibratedRGB, 0.1f, 0.2f, 0.3f, 0.4f),
        Color::rgb(Color::Space::DeviceRGB, 1.0f, 0.0f, 0.5f),
        Color::white(Color::Space::CalibratedWhite, 0.25f, 0.5f),
        Color::white(Color::Space::DeviceWhite, 1.0f),
    };
    for (const auto& color : colors) {
        const auto back = decodeColor(SequentialArchiver::archivedDataWithRootObject(values::fromObject(color)));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->colorSpace(), color->colorSpace());
        EXPECT_EQ(back->isRGB(), color->isRGB());
        EXPECT_EQ(back->red(), color->red());
        EXPECT_EQ(back->green(), color->green());
        EXPECT_EQ(back->blue(), color->blue());
        EXPECT_EQ(back->whiteLevel(), color->whiteLevel());
        EXPECT_EQ(back->alpha(), color->alpha());
    }
}

TEST(Color, RejectsAnUnsupportedSpace)
{
    // NSColor, colour space 6 (a named colour), which this class does not carry.
    QByteArray data = terminalSample(QStringLiteral("Solarized_Dark_2011-03-22"), QStringLiteral("blackColour"));
    const qsizetype at = data.indexOf(QByteArray("\x84\x01" "c", 3));
    ASSERT_GT(at, 0);
    data[at + 3] = 6;
    EXPECT_FALSE(decodeColor(data));
    EXPECT_EQ(kelvaro::test::log().count(QStringLiteral("SequentialUnarchiver: NSColor colour space 6 is not supported\n")), 1);
}

TEST(Color, KeyedFormMatchesTheOriginalShape)
{
    // Solarized_Dark_2011-03-22 BackgroundColor as the original keyed archive holds it.
    const QByteArray stored("0 0.1686274558 0.2117647231 0.96", 33);
    MapKeyedCoder decoder({{QStringLiteral("NSColorSpace"), values::fromSigned(2)},
                           {QStringLiteral("NSRGB"), values::fromData(stored)}});
    const auto color = objectAs<Color>(Color::decode(decoder));
    ASSERT_TRUE(color);
    EXPECT_EQ(color->colorSpace(), Color::Space::DeviceRGB);
    EXPECT_FLOAT_EQ(color->green(), float(43 / 255.0));
    EXPECT_FLOAT_EQ(color->alpha(), 0.96f);

    MapKeyedCoder encoder;
    Color::rgb(Color::Space::DeviceRGB, 0.0f, byteComponent(43), byteComponent(54))->encodeWithCoder(encoder);
    EXPECT_EQ(encoder.values().value(QStringLiteral("NSColorSpace")), values::fromSigned(2));
    EXPECT_EQ(encoder.values().value(QStringLiteral("NSRGB")).toByteArray(), QByteArray("0 0.1686274558 0.2117647231", 28));

    MapKeyedCoder grey;
    Color::white(Color::Space::CalibratedWhite, 0.5f, 0.25f)->encodeWithCoder(grey);
    EXPECT_EQ(grey.values().value(QStringLiteral("NSWhite")).toByteArray(), QByteArray("0.5 0.25", 9));
    const auto back = objectAs<Color>(Color::decode(grey));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->whiteLevel(), 0.5f);
    EXPECT_EQ(back->alpha(), 0.25f);

    MapKeyedCoder bad({{QStringLiteral("NSColorSpace"), values::fromSigned(1)},
                       {QStringLiteral("NSRGB"), values::fromData(QByteArray("0.5 x", 6))}});
    EXPECT_FALSE(Color::decode(bad));
    EXPECT_EQ(bad.failure(), QStringLiteral("NSColor with bad components"));
}

TEST(Color, KeyedFormReadsTerminalColoursAndRoundTrips)
{
    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("NSColor")};
    struct Row {
        const char* file;
        int r, g, b;
        float alpha;
    };
    const Row rows[] = {
        {"Solarized_Dark_2011-03-22.BackgroundColor.keyed.bplist", 0x00, 0x2b, 0x36, 0.96f}, // base03
        {"Solarized_Dark_2011-03-22.TextColor.keyed.bplist", 0x83, 0x94, 0x96, 1.0f},       // base0
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const QByteArray data = kelvaro::test::readFile(kelvaro::test::testDataPath(
            QStringLiteral("archives/terminal-profiles/") + QLatin1String(row.file)));
        const auto color = platform::objectAs<platform::Color>(
            platform::values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(data, options)));
        ASSERT_TRUE(color);
        EXPECT_EQ(color->colorSpace(), platform::Color::Space::DeviceRGB);
        EXPECT_NEAR(color->red(), row.r / 255.0, 1e-6);
        EXPECT_NEAR(color->green(), row.g / 255.0, 1e-6);
        EXPECT_NEAR(color->blue(), row.b / 255.0, 1e-6);
        EXPECT_NEAR(color->alpha(), row.alpha, 1e-6);
    }

    for (const auto& original : {platform::Color::rgb(platform::Color::Space::CalibratedRGB, 0.25f, 0.5f, 0.125f, 0.75f),
             platform::Color::white(platform::Color::Space::DeviceWhite, 0.5f)}) {
        const QByteArray data = platform::KeyedArchiver::archivedDataWithRootObject(platform::values::fromObject(original));
        const auto back = platform::objectAs<platform::Color>(
            platform::values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(data, options)));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->colorSpace(), original->colorSpace());
        EXPECT_FLOAT_EQ(back->red(), original->red());
        EXPECT_FLOAT_EQ(back->green(), original->green());
        EXPECT_FLOAT_EQ(back->blue(), original->blue());
        EXPECT_FLOAT_EQ(back->alpha(), original->alpha());
    }
}
