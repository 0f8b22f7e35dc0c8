#include "framework/NSSpeechSynthesizerTEVAdditions.h"
#include "platform/desktop/SpeechSynthesizer.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Additions = NSSpeechSynthesizerTEVAdditions;

class FakeSynthesizer final : public platform::SpeechSynthesizer {
public:
    struct Voice {
        QString identifier;
        QString locale;
        qint64 desirability = -1; // -1: no such attribute
    };
    QList<Voice> voices;
    QString defaultIdentifier;
    QString bundles;

    QStringList availableVoices() override
    {
        QStringList identifiers;
        for (const Voice& voice : voices)
            identifiers.append(voice.identifier);
        return identifiers;
    }
    QString defaultVoice() override { return defaultIdentifier; }
    bool startSpeaking(const QString&, const QString&) override { return false; }
    QVariantMap attributesForVoice(const QString& identifier) override
    {
        for (const Voice& voice : voices) {
            if (voice.identifier != identifier)
                continue;
            QVariantMap attributes;
            if (!voice.locale.isEmpty())
                attributes.insert(kVoiceLocaleIdentifier, voice.locale);
            if (voice.desirability >= 0)
                attributes.insert(kVoiceRelativeDesirability, QVariant::fromValue<qint64>(voice.desirability));
            return attributes;
        }
        return {};
    }
    QString voiceBundlesDirectory() override { return bundles; }
};

class SpeechVoiceChoice : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake->bundles = folder.path();
        platform::SpeechSynthesizer::setShared(fake);
    }
    void TearDown() override { platform::SpeechSynthesizer::setShared(nullptr); }

    void addBundle(const QString& name, bool withSpeechData)
    {
        const QString path = folder.path() + "/" + name + ".SpeechVoice";
        QDir().mkpath(path);
        if (withSpeechData)
            kelvaro::test::writeFile(path + "/PCMWave", "RIFF");
    }

    QTemporaryDir folder;
    std::shared_ptr<FakeSynthesizer> fake = std::make_shared<FakeSynthesizer>();
};

} // namespace

TEST_F(SpeechVoiceChoice, InstalledDefaultVoiceOfTheLanguageWinsOverMoreDesirableOnes)
{
    addBundle("Anna", true);
    fake->voices = {{"org.voice.anna", "de-DE", 1}, {"org.voice.yannick", "de_CH", 90}};
    fake->defaultIdentifier = "org.voice.anna";
    EXPECT_EQ(Additions::bestVoiceToSpeakLanguageWithCode("de"), QStringLiteral("org.voice.anna"));
    EXPECT_EQ(Additions::bestVoiceToSpeakLanguageWithCode("fr"), QStringLiteral("org.voice.anna")); // nobody speaks it
    EXPECT_TRUE(Additions::bestVoiceToSpeakLanguageWithCode("").isNull());
}

TEST_F(SpeechVoiceChoice, MostDesirableVoiceWinsAndTheFirstOnTies)
{
    const struct {
        qint64 first, second;
        const char* expected;
    } rows[] = {{5, 5, "org.voice.first"}, {3, 7, "org.voice.second"}, {-1, 0, "org.voice.second"}, {-1, -1, "org.voice.default"}};
    for (const auto& row : rows) {
        fake->voices = {{"org.voice.default", "en-gb", 99}, {"org.voice.first", "fr", row.first}, {"org.voice.second", "fr-CA", row.second}};
        fake->defaultIdentifier = "org.voice.default";
        EXPECT_EQ(Additions::bestVoiceToSpeakLanguageWithCode("fr"), QString::fromLatin1(row.expected)) << row.first << " " << row.second;
    }
}

TEST_F(SpeechVoiceChoice, ResourceCheckFollowsTheBundleOfTheVoiceName)
{
    addBundle("Tom", true);
    addBundle("Alex", false);
    const struct {
        const char* voice;
        bool valid;
    } rows[] = {
        {"", false},
        {"org.voice.", true},              // trailing dot
        {"org.voice.tom", true},           // bundle names are capitalised
        {"org.voice.tom.premium", true},   // enhanced variant judged by its base voice
        {"org.voice.alex.premium", false}, // bundle without speech data
        {"org.voice.alex", false},
        {"premium", true},                 // no component before it: its own (missing) bundle
        {"org.voice.nobundle", true},      // lives elsewhere
    };
    for (const auto& row : rows)
        EXPECT_EQ(Additions::hasValidResourcesToSpeakWithVoice(QString::fromLatin1(row.voice)), row.valid) << row.voice;
}

TEST_F(SpeechVoiceChoice, VoiceWithoutSpeechDataIsNeverChosenUnlessAsTheFallback)
{
    addBundle("Alex", false);
    fake->voices = {{"org.voice.alex", "en-US", 50}, {"org.voice.fred", "en-US", 1}};
    fake->defaultIdentifier = "org.voice.alex";
    EXPECT_EQ(Additions::bestVoiceToSpeakLanguageWithCode("en"), QStringLiteral("org.voice.fred"));
    fake->voices.removeLast();
    EXPECT_EQ(Additions::bestVoiceToSpeakLanguageWithCode("en"), QStringLiteral("org.voice.alex"));
}

TEST_F(SpeechVoiceChoice, LanguagesAreSortedOnceEachAndSkipVoicesWithoutLocale)
{
    fake->voices = {{"v.1", "sv", 1}, {"v.2", "en-gb", 1}, {"v.3", "", 1}, {"v.4", "en_US", 1}, {"v.5", "cmn-latn-pinyin", 1}};
    EXPECT_EQ(Additions::availableLanguageCodes(), QStringList({"cmn", "en", "sv"}));
    EXPECT_TRUE(Additions::languageCodeOfVoice("v.3").isNull());
    EXPECT_EQ(Additions::relativeDesirabilityOfVoice("unknown"), -1);
}

TEST(EspeakSpeechSynthesizer, ParsesTheVoiceTableOfEspeakNg)
{
    const auto voices = platform::EspeakSpeechSynthesizer::parseVoiceList(
        kelvaro::test::readFile(kelvaro::test::testDataPath("speech/espeak-ng-1.51-voices.txt")));
    EXPECT_EQ(voices.size(), 131);
    auto find = [&voices](const QString& identifier) {
        for (const auto& voice : voices)
            if (voice.identifier == identifier)
                return voice;
        return platform::EspeakSpeechSynthesizer::Voice{};
    };
    const auto english = find(platform::EspeakSpeechSynthesizer::kDefaultVoice);
    EXPECT_EQ(english.language, QStringLiteral("en-gb"));
    EXPECT_EQ(english.name, QStringLiteral("English_(Great_Britain)"));
    EXPECT_EQ(english.priority, 2);
    // A language tag long enough to touch the next column, and a name with punctuation.
    EXPECT_EQ(find("org.espeak-ng.iro.chr").language, QStringLiteral("chr-US-Qaaa-x-west"));
    EXPECT_EQ(find("org.espeak-ng.sit.cmn").name, QStringLiteral("Chinese_(Mandarin,_latin_as_English)"));
}
