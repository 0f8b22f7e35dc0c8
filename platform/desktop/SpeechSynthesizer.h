#pragma once
// SpeechSynthesizer: the voices the desktop can speak with, their attributes and the default voice. One
// process-wide synthesizer (espeak-ng's unless a test installs a fake); main thread.
//
// Voice identifiers are "org.espeak-ng." followed by the espeak-ng voice file with '/' turned into '.'
// ("org.espeak-ng.gmw.en-029"), so the voice name is the last component.

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

namespace platform {

class SpeechSynthesizer {
public:
    static inline const QString kVoiceLocaleIdentifier = QStringLiteral("NSVoiceLocaleIdentifier");
    static inline const QString kVoiceRelativeDesirability = QStringLiteral("VoiceRelativeDesirability");

    virtual ~SpeechSynthesizer() = default;

    virtual QStringList availableVoices() = 0;
    virtual QString defaultVoice() = 0;
    // kVoiceLocaleIdentifier (string, "en-gb"), kVoiceRelativeDesirability (qint64, higher is better), and
    // "VoiceName"; empty for an unknown voice.
    virtual QVariantMap attributesForVoice(const QString& voice) = 0;
    // Where voice bundles ("<Name>.SpeechVoice" with a "PCMWave" resource) lie; empty when the synthesizer
    // keeps its speech data elsewhere, which makes every voice count as installed.
    virtual QString voiceBundlesDirectory() = 0;
    // Starts speaking `text` with `voice` and returns at once; every utterance has a synthesizer of its own,
    // so it neither waits for nor interrupts an earlier one. NO when it could not start.
    virtual bool startSpeaking(const QString& text, const QString& voice) = 0;

    static std::shared_ptr<SpeechSynthesizer> shared();
    // Null returns to espeak-ng.
    static void setShared(std::shared_ptr<SpeechSynthesizer> synthesizer);
};

// The voices of the espeak-ng program, listed once ("espeak-ng --voices"). Without espeak-ng there are no
// voices; the default voice is still espeak-ng's default, "gmw/en".
class EspeakSpeechSynthesizer final : public SpeechSynthesizer {
public:
    struct Voice {
        QString identifier;
        QString language; // "en-gb"
        QString name;     // "English_(Great_Britain)"
        int priority = 0; // espeak-ng's: lower is preferred
        QString file;     // "gmw/en-029", what -v takes
    };

    static inline const QString kDefaultVoice = QStringLiteral("org.espeak-ng.gmw.en");

    QStringList availableVoices() override;
    QString defaultVoice() override { return kDefaultVoice; }
    QVariantMap attributesForVoice(const QString& voice) override;
    QString voiceBundlesDirectory() override { return {}; }
    // One espeak-ng process per utterance; the text goes in on its standard input, so no text is read as an
    // option.
    bool startSpeaking(const QString& text, const QString& voice) override;
    // Utterances go to this WAV file instead of the sound device (tests); empty for the sound device.
    void setWaveOutputPath(const QString& path) { waveOutputPath_ = path; }

    // The table that "espeak-ng --voices" prints; lines that do not parse are skipped.
    static QList<Voice> parseVoiceList(const QByteArray& output);

private:
    const QList<Voice>& voices();

    bool listed_ = false;
    QList<Voice> voices_;
    QString waveOutputPath_;
};

} // namespace platform
