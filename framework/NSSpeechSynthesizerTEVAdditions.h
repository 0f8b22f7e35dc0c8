#pragma once
// The voice choice for spoken alerts and values: a voice's language and desirability, whether its speech
// data is installed, the languages of the installed voices and the best voice for a language. Static
// members over platform::SpeechSynthesizer::shared(); main thread.

#include <QString>
#include <QStringList>
#include <QtGlobal>

class NSSpeechSynthesizerTEVAdditions {
public:
    // False for an empty identifier. A voice without a bundle in the synthesizer's bundle folder counts as
    // installed; one with a bundle needs its "PCMWave" resource. An enhanced voice ("....premium") is
    // judged by the bundle of the component before "premium".
    static bool hasValidResourcesToSpeakWithVoice(const QString& voice);
    // "en" for a voice of locale "en-gb"; null for an empty identifier or a voice without a locale.
    static QString languageCodeOfVoice(const QString& voice);
    // -1 for an empty identifier or a voice without a desirability.
    static qint64 relativeDesirabilityOfVoice(const QString& voice);
    // Sorted, each once.
    static QStringList availableLanguageCodes();
    // The default voice when it speaks `code` and is installed, else the installed voice of that language
    // with the highest desirability (the first on ties), else the default voice; null for an empty code.
    static QString bestVoiceToSpeakLanguageWithCode(const QString& code);
};
