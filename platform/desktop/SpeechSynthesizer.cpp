#include "platform/desktop/SpeechSynthesizer.h"

#include "platform/desktop/Scheduler.h"
#include "platform/desktop/StartedPrograms.h"
#include "platform/foundation/Log.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<SpeechSynthesizer> g_synthesizer;

// espeak-ng priorities run from 1 (preferred) to about 10; desirability grows the other way.
constexpr int kDesirabilityBase = 100;

const char* const kClassName = "EspeakSpeechSynthesizer";

// The first line that says something: ALSA's first complaint names the missing card, the last is a bare
// "error: No such file or directory".
QString firstLine(const QByteArray& output)
{
    for (const QByteArray& line : output.split('\n'))
        if (!line.trimmed().isEmpty())
            return QString::fromLocal8Bit(line.trimmed()).left(200);
    return {};
}

} // namespace

struct EspeakSpeechSynthesizer::State {
    QList<QPointer<QProcess>> running;
    QSet<QString> reported;

    // Each reason once per synthesizer: an alert every 30 s, or a value every tick, would repeat it forever.
    void reportOnce(const QString& reason, const QString& message)
    {
        if (reported.contains(reason))
            return;
        reported.insert(reason);
        log(kClassName, message);
    }
    void forget(QProcess* process)
    {
        running.removeIf([process](const QPointer<QProcess>& p) { return !p || p == process; });
    }
};

EspeakSpeechSynthesizer::EspeakSpeechSynthesizer(const QString& program) : program_(program), state_(std::make_shared<State>()) {}

EspeakSpeechSynthesizer::~EspeakSpeechSynthesizer() = default;

QString EspeakSpeechSynthesizer::programPath()
{
    const QString path = program_.contains(QLatin1Char('/')) ? (QFileInfo(program_).isExecutable() ? program_ : QString())
                                                             : QStandardPaths::findExecutable(program_);
    if (path.isEmpty())
        state_->reportOnce(QStringLiteral("missing"),
                           QStringLiteral("%1 was not found%2; speech is not available")
                               .arg(program_, program_.contains(QLatin1Char('/')) ? QString() : QStringLiteral(" on the PATH")));
    return path;
}

int EspeakSpeechSynthesizer::runningUtterances() const
{
    state_->forget(nullptr);
    return int(state_->running.size());
}

double EspeakSpeechSynthesizer::utteranceTimeLimit(const QString& text)
{
    return 10.0 + 0.25 * double(text.size());
}

QString EspeakSpeechSynthesizer::defaultVoice()
{
    for (const Voice& voice : voices())
        if (voice.identifier == kDefaultVoice)
            return kDefaultVoice;
    return voices().isEmpty() ? QString() : voices().constFirst().identifier;
}

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
    const QString program = programPath();
    if (program.isEmpty())
        return voices_;
    QProcess process;
    process.setProcessEnvironment(environmentForStartedPrograms());
    process.start(program, {QStringLiteral("--voices")});
    if (!process.waitForFinished(voiceListTimeoutMs_) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const bool hung = process.state() != QProcess::NotRunning;
        process.kill();
        process.waitForFinished(1000);
        state_->reportOnce(QStringLiteral("voices"),
                           hung ? QStringLiteral("%1 --voices gave no answer within %2 ms; speech is not available")
                                      .arg(program)
                                      .arg(voiceListTimeoutMs_)
                                : QStringLiteral("could not list the voices of %1: %2; speech is not available")
                                      .arg(program, firstLine(process.readAllStandardError())));
        return voices_;
    }
    voices_ = parseVoiceList(process.readAllStandardOutput());
    if (voices_.isEmpty())
        state_->reportOnce(QStringLiteral("voices"), QStringLiteral("%1 lists no voices; speech is not available").arg(program));
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
    QString file;
    for (const Voice& voice : voices())
        if (voice.identifier == identifier)
            file = voice.file;
    if (file.isEmpty())
        return false;
    const QString program = programPath();
    if (program.isEmpty())
        return false;
    if (runningUtterances() >= kMaxUtterances) {
        state_->reportOnce(QStringLiteral("busy"),
                           QStringLiteral("%1 utterances are still being spoken; further ones are dropped until one ends")
                               .arg(kMaxUtterances));
        return false;
    }
    QStringList arguments{QStringLiteral("-v"), file, QStringLiteral("--stdin")};
    if (!waveOutputPath_.isEmpty())
        arguments << QStringLiteral("-w") << waveOutputPath_;
    // Parented to the application so it outlives this call; it deletes itself when espeak-ng is done.
    auto* process = new QProcess(QCoreApplication::instance());
    const std::weak_ptr<State> weakState = state_;
    // Without a sound device espeak-ng still exits 0; only its error output tells.
    QObject::connect(process, &QProcess::finished, process, [process, weakState](int exitCode, QProcess::ExitStatus status) {
        const QString error = firstLine(process->readAllStandardError());
        if (const auto state = weakState.lock()) {
            state->forget(process);
            // Its status then says nothing: the error output is the failure, and no "exit code 0" is told.
            if (status == QProcess::NormalExit && exitCode == 0 && !error.isEmpty())
                state->reportOnce(QStringLiteral("failed"),
                                  QStringLiteral("espeak-ng could not speak: %1; speech is not available").arg(error));
            else if (status == QProcess::NormalExit && exitCode != 0)
                state->reportOnce(QStringLiteral("failed"),
                                  QStringLiteral("espeak-ng could not speak (exit code %1): %2; speech is not available")
                                      .arg(exitCode)
                                      .arg(error.isEmpty() ? QStringLiteral("no message") : error));
        }
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, weakState](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        if (const auto state = weakState.lock())
            state->forget(process);
        process->deleteLater();
    });
    process->setProcessEnvironment(environmentForStartedPrograms());
    process->start(program, arguments);
    if (!process->waitForStarted(5000)) {
        state_->reportOnce(QStringLiteral("start"), QStringLiteral("could not start %1: %2").arg(program, process->errorString()));
        return false;
    }
    state_->running.append(process);
    const double limit = utteranceTimeLimit(text);
    Scheduler::shared()->afterSeconds(limit, [weakState, guarded = QPointer<QProcess>(process), limit] {
        if (!guarded || guarded->state() == QProcess::NotRunning)
            return;
        if (const auto state = weakState.lock())
            state->reportOnce(QStringLiteral("hung"),
                              QStringLiteral("espeak-ng was still speaking after %1 s; it was ended").arg(limit));
        guarded->kill();
    });
    process->write(text.toUtf8());
    process->closeWriteChannel();
    return true;
}

} // namespace platform
