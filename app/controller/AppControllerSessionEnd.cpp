// The saving at the end of a session: the histories at quit, the end of the process without a quit (the X
// server went away at a logout, and the display plugin ends the process from under the event loop), and the
// user told of what could not be written.

#include "app/controller/AppController.h"

#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVDataAcquisitionCore.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "framework/TEVStringFormat.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kNotSavedFileName = QStringLiteral("NotSavedAtLastEnd.txt");

} // namespace

QStringList AppController::notSavedNoticePaths()
{
    // The second where the first cannot be written (its folder is read-only, say).
    return {platform::Paths::applicationSupportDirectory(QStringLiteral("Kelvaro")) + kNotSavedFileName,
            platform::Paths::configHome() + QStringLiteral("/kelvaro/") + kNotSavedFileName};
}

std::optional<QString> AppController::saveLongTermHistories()
{
    // Before the local computer is ready (at the start, or while it is relaunched) there is nothing to keep.
    if (!isReady(localClient_) || !localClient_->hasActiveConnection())
        return std::nullopt;
    if (localClient_->saveLongTermHistoryBuffers())
        return QString();
    platform::log(QStringLiteral("WARNING: local client could not save long-term history buffers to persistent storage!\n"));
    const QString failure = TEVDataAcquisitionCore::lastHistorySaveFailure();
    return failure.isEmpty() ? QStringLiteral("the local computer did not answer") : failure;
}

void AppController::saveForLostDisplay()
{
    // The local computer's sampling stops first: its histories are saved as they stand. Remote computers
    // are asked nothing (one may not answer); the process ends right after this, destroying nothing.
    if (isReady(localClient_) && localClient_->hasActiveConnection())
        localClient_->pauseCapturing();
    // The window flags stay as stored: the windows were not closed by the user.
    for (const auto& history : std::as_const(historyWindowControllers_))
        history->syncWindowStateToPreferences();
    takeBackPanePreferences();
    const MonitorPreferences::WriteResult preferences = writePreferences();
    const std::optional<QString> histories = saveLongTermHistories();

    QStringList failures;
    QString result = !preferences.written() ? QStringLiteral("preferences not written (%1)").arg(preferences.failure)
                     : preferences.changed  ? QStringLiteral("preferences written to %1").arg(preferences.path)
                                            : QStringLiteral("preferences unchanged in %1").arg(preferences.path);
    if (!preferences.written())
        failures.append(TEVStringFormat::withObjects(localized(QStringLiteral("The settings could not be saved to \"%@\": %@.")),
                                                     {preferences.path, preferences.failure}));
    if (!histories)
        result += QStringLiteral("; no long-term histories due (the local computer was not ready)");
    else if (histories->isNull())
        result += QStringLiteral("; long-term histories written");
    else {
        result += QStringLiteral("; long-term histories not written (%1)").arg(*histories);
        failures.append(TEVStringFormat::withObjects(localized(QStringLiteral("The sensor histories could not be saved: %@.")),
                                                     {*histories}));
    }
    if (!localSetDecided() && isReady(localClient_))
        result += QStringLiteral("; nothing of this computer filed (its settings are undecided)");
    platform::log("Kelvaro", QStringLiteral("saved at the display's end: %1").arg(result));
    tellOfFailedWrites(failures, true);
}

void AppController::saveForSessionManager()
{
    // The quit that follows records the same; a session manager that never sends it still finds them.
    recordWindows();
    const MonitorPreferences::WriteResult preferences = writePreferences();
    platform::log("Kelvaro", preferences.written() ? QStringLiteral("saved for the session manager: preferences written to %1").arg(preferences.path)
                                                   : QStringLiteral("saved for the session manager: preferences not written (%1)").arg(preferences.failure));
}

void AppController::tellOfFailedWrites(const QStringList& failures, bool atEnd)
{
    QStringList untold;
    for (const QString& failure : failures) {
        // A failure that repeats a known one (the unreadable settings told at start) is not told again.
        bool known = toldFailures_.contains(failure);
        for (const QString& told : std::as_const(toldFailures_))
            known = known || failure.contains(told);
        if (!known) {
            untold.append(failure);
            toldFailures_.insert(failure);
        }
    }
    if (untold.isEmpty())
        return;
    if (!atEnd) {
        platform::Alert alert;
        alert.style = platform::Alert::Style::Warning;
        alert.messageText = localized(QStringLiteral("Settings Not Saved"));
        alert.informativeText = untold.join(QLatin1Char('\n'));
        alert.buttons = {localized(QStringLiteral("OK"))};
        runAlert(alert);
        return;
    }
    // Told at the next start. A few lines: where the disk is full, a small file may still fit.
    const QByteArray text = untold.join(QLatin1Char('\n')).toUtf8() + '\n';
    for (const QString& path : notSavedNoticePaths()) {
        QFile file(path);
        if (QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly | QIODevice::Append)
            && file.write(text) == text.size() && file.flush()) {
            platform::log("Kelvaro", QStringLiteral("the next start tells: %1").arg(QString::fromUtf8(text).trimmed()));
            return;
        }
    }
    platform::log("Kelvaro", QStringLiteral("could not keep the failure for the next start: %1").arg(QString::fromUtf8(text).trimmed()));
}

void AppController::takeNoticeOfLastEnd()
{
    QStringList lines;
    for (const QString& path : notSavedNoticePaths()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // A few lines at most; a larger file is no notice of ours.
        const QString text = QString::fromUtf8(file.read(16 * 1024)).trimmed();
        file.close();
        // Its target, where it is a link: the link stays for the next notice.
        const platform::ResolvedFile notice = platform::Paths::resolveFileLinks(path);
        QFile::remove(notice ? notice.path : path);
        if (!text.isEmpty())
            lines.append(text);
    }
    if (lines.isEmpty())
        return;
    queueNotice(localized(QStringLiteral("Not Saved Last Time")),
                localized(QStringLiteral("When the application last ended, not everything could be saved:")) + QLatin1Char('\n')
                    + lines.join(QLatin1Char('\n')));
}
