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
    // Empty when the synthesizer has no voice at all.
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

// The voices of the espeak-ng program, listed once ("espeak-ng --voices", bounded by a short time-out).
// Without espeak-ng there are no voices and no default voice. Why speech cannot work (no program, no
// answer, no sound device) is logged once per reason.
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
    // Utterances that may overlap; a further one is dropped while they run.
    static constexpr int kMaxUtterances = 3;

    // `program`: a name looked up on the PATH, or a path.
    explicit EspeakSpeechSynthesizer(const QString& program = QStringLiteral("espeak-ng"));
    ~EspeakSpeechSynthesizer() override;

    QStringList availableVoices() override;
    QString defaultVoice() override;
    QVariantMap attributesForVoice(const QString& voice) override;
    QString voiceBundlesDirectory() override { return {}; }
    // One espeak-ng process per utterance; the text goes in on its standard input, so no text is read as an
    // option. A process that runs far longer than its text needs (utteranceTimeLimit) is ended.
    bool startSpeaking(const QString& text, const QString& voice) override;
    // Utterances go to this WAV file instead of the sound device (tests); empty for the sound device.
    void setWaveOutputPath(const QString& path) { waveOutputPath_ = path; }
    // How long the voice list may take; it runs on the calling thread.
    void setVoiceListTimeout(int milliseconds) { voiceListTimeoutMs_ = milliseconds; }
    int runningUtterances() const;
    // Seconds of the shared clock after which an utterance of `text` is ended: a generous margin over
    // espeak-ng's default pace of about 15 characters a second.
    static double utteranceTimeLimit(const QString& text);

    // The table that "espeak-ng --voices" prints; lines that do not parse are skipped.
    static QList<Voice> parseVoiceList(const QByteArray& output);

private:
    struct State;
    const QList<Voice>& voices();
    QString programPath();

    QString program_;
    bool listed_ = false;
    QList<Voice> voices_;
    QString waveOutputPath_;
    int voiceListTimeoutMs_ = 1500;
    std::shared_ptr<State> state_; // shared with the running processes' handlers
};

} // namespace platform
