#include "platform/desktop/SpeechSynthesizer.h"

#include "platform/foundation/Log.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<SpeechSynthesizer> g_synthesizer;

// espeak-ng priorities run from 1 (preferred) to about 10; desirability grows the other way.
constexpr int kDesirabilityBase = 100;

} // namespace

std::shared_ptr<SpeechSynthesizer> SpeechSynthesizer::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_synthesizer)
        g_synthesizer = std::make_shared<EspeakSpeechSynthesizer>();
    return g_synthesizer;
}

void SpeechSynthesizer::setShared(std::shared_ptr<SpeechSynthesizer> synthesizer)
{
    std::lock_guard lock(g_mutex);
    g_synthesizer = std::move(synthesizer);
}

QList<EspeakSpeechSynthesizer::Voice> EspeakSpeechSynthesizer::parseVoiceList(const QByteArray& output)
{
    // "Pty Language Age/Gender VoiceName File Other Languages": names use '_' for spaces, so the first five
    // columns split at white space; the other languages ("(en 2)(en-uk 3)") are not needed.
    QList<Voice> voices;
    const QList<QByteArray> lines = output.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> columns = lines[i].simplified().split(' ');
        if (columns.size() < 5)
            continue;
        bool ok = false;
        const int priority = columns[0].toInt(&ok);
        if (!ok || columns[3].isEmpty() || columns[4].isEmpty())
            continue;
        Voice voice;
        voice.file = QString::fromUtf8(columns[4]);
        voice.identifier = QStringLiteral("org.espeak-ng.") + QString(voice.file).replace(QLatin1Char('/'), QLatin1Char('.'));
        voice.language = QString::fromUtf8(columns[1]);
        voice.name = QString::fromUtf8(columns[3]);
        voice.priority = priority;
        voices.append(voice);
    }
    return voices;
}

const QList<EspeakSpeechSynthesizer::Voice>& EspeakSpeechSynthesizer::voices()
{
    if (listed_)
        return voices_;
    listed_ = true;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
    if (program.isEmpty())
        return voices_; // speech is optional: no voices, no message
    QProcess process;
    process.start(program, {QStringLiteral("--voices")});
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        process.kill();
        log("EspeakSpeechSynthesizer", QStringLiteral("could not list the voices of %1").arg(program));
        return voices_;
    }
    voices_ = parseVoiceList(process.readAllStandardOutput());
    return voices_;
}

QStringList EspeakSpeechSynthesizer::availableVoices()
{
    QStringList identifiers;
    for (const Voice& voice : voices())
        identifiers.append(voice.identifier);
    return identifiers;
}

QVariantMap EspeakSpeechSynthesizer::attributesForVoice(const QString& identifier)
{
    for (const Voice& voice : voices()) {
        if (voice.identifier == identifier)
            return {{kVoiceLocaleIdentifier, voice.language},
                    {kVoiceRelativeDesirability, QVariant::fromValue<qint64>(std::max(0, kDesirabilityBase - voice.priority))},
                    {QStringLiteral("VoiceName"), voice.name}};
    }
    return {};
}

bool EspeakSpeechSynthesizer::startSpeaking(const QString& text, const QString& identifier)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
    if (program.isEmpty())
        return false;
    QString file;
    for (const Voice& voice : voices())
        if (voice.identifier == identifier)
            file = voice.file;
    if (file.isEmpty())
        return false;
    QStringList arguments{QStringLiteral("-v"), file, QStringLiteral("--stdin")};
    if (!waveOutputPath_.isEmpty())
        arguments << QStringLiteral("-w") << waveOutputPath_;
    // Parented to the application so it outlives this call; it deletes itself when espeak-ng is done.
    auto* process = new QProcess(QCoreApplication::instance());
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    process->start(program, arguments);
    if (!process->waitForStarted(5000)) {
        log("EspeakSpeechSynthesizer", QStringLiteral("could not start %1").arg(program));
        return false;
    }
    process->write(text.toUtf8());
    process->closeWriteChannel();
    return true;
}

} // namespace platform
