#include "framework/NSSpeechSynthesizerTEVAdditions.h"

#include "platform/desktop/SpeechSynthesizer.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Values.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

// "hELLO world" -> "Hello World": the bundle names' capitalisation.
QString capitalized(const QString& text)
{
    QString result = text.toLower();
    bool wordStart = true;
    for (QChar& c : result) {
        if (wordStart && c.isLetterOrNumber())
            c = c.toUpper();
        wordStart = c.isSpace();
    }
    return result;
}

} // namespace

bool NSSpeechSynthesizerTEVAdditions::hasValidResourcesToSpeakWithVoice(const QString& voice)
{
    if (voice.isEmpty())
        return false;
    const QStringList components = voice.split(QLatin1Char('.'));
    QString name = components.last();
    if (name.isEmpty())
        return true;
    if (name == QLatin1String("premium") && components.size() >= 2)
        name = components[components.size() - 2];
    const QString directory = platform::SpeechSynthesizer::shared()->voiceBundlesDirectory();
    if (directory.isEmpty() || name.isEmpty())
        return true;
    const QString bundlePath = QDir(directory).filePath(capitalized(name) + QStringLiteral(".SpeechVoice"));
    if (!QFileInfo(bundlePath).isDir())
        return true; // the voice lives elsewhere
    const auto bundle = platform::Bundle::fromDirectory(bundlePath);
    return bundle && bundle->pathForResource(QStringLiteral("PCMWave")).has_value();
}

QString NSSpeechSynthesizerTEVAdditions::languageCodeOfVoice(const QString& voice)
{
    if (voice.isEmpty())
        return {};
    const auto locale = platform::values::toString(
        platform::SpeechSynthesizer::shared()->attributesForVoice(voice).value(platform::SpeechSynthesizer::kVoiceLocaleIdentifier));
    if (!locale || locale->isEmpty())
        return {};
    // "en-gb", "en_GB", "cmn-latn-pinyin": the language is the first subtag.
    return locale->section(QRegularExpression(QStringLiteral("[-_@]")), 0, 0).toLower();
}

qint64 NSSpeechSynthesizerTEVAdditions::relativeDesirabilityOfVoice(const QString& voice)
{
    if (voice.isEmpty())
        return -1;
    const auto value = platform::values::toSigned(
        platform::SpeechSynthesizer::shared()->attributesForVoice(voice).value(platform::SpeechSynthesizer::kVoiceRelativeDesirability));
    return value.value_or(-1);
}

QStringList NSSpeechSynthesizerTEVAdditions::availableLanguageCodes()
{
    QSet<QString> codes;
    for (const QString& voice : platform::SpeechSynthesizer::shared()->availableVoices()) {
        const QString code = languageCodeOfVoice(voice);
        if (!code.isEmpty())
            codes.insert(code);
    }
    QStringList sorted(codes.begin(), codes.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

QString NSSpeechSynthesizerTEVAdditions::bestVoiceToSpeakLanguageWithCode(const QString& code)
{
    if (code.isEmpty())
        return {};
    const auto synthesizer = platform::SpeechSynthesizer::shared();
    const QString defaultVoice = synthesizer->defaultVoice();
    if (languageCodeOfVoice(defaultVoice) == code && hasValidResourcesToSpeakWithVoice(defaultVoice))
        return defaultVoice;
    QString best;
    qint64 bestDesirability = -1;
    for (const QString& voice : synthesizer->availableVoices()) {
        if (languageCodeOfVoice(voice) != code || !hasValidResourcesToSpeakWithVoice(voice))
            continue;
        const qint64 desirability = relativeDesirabilityOfVoice(voice);
        if (desirability > bestDesirability) {
            best = voice;
            bestDesirability = desirability;
        }
    }
    return best.isNull() ? defaultVoice : best;
}
