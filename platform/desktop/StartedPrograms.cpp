#include "platform/desktop/StartedPrograms.h"

#include <QHash>
#include <QProcess>

#include <mutex>
#include <optional>

namespace platform {
namespace {

std::mutex g_mutex;
// The session's values of the variables this process changed for itself; none where there was none.
QHash<QString, std::optional<QString>> g_sessionValues;

} // namespace

void setEnvironmentVariableForThisProcess(const char* name, const QByteArray& value)
{
    std::lock_guard lock(g_mutex);
    const QString key = QString::fromLatin1(name);
    g_sessionValues.insert(key, qEnvironmentVariableIsSet(name) ? std::optional(qEnvironmentVariable(name)) : std::nullopt);
    qputenv(name, value);
}

QProcessEnvironment environmentForStartedPrograms()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    {
        std::lock_guard lock(g_mutex);
        for (auto it = g_sessionValues.cbegin(); it != g_sessionValues.cend(); ++it) {
            if (it.value())
                environment.insert(it.key(), *it.value());
            else
                environment.remove(it.key());
        }
    }
    // The tokens of this process's start (or of another start it activated a window for) are spent: a program
    // that activated with one would be refused, or handed the focus the token was meant for. Qt gives no way
    // to ask the compositor for a fresh one, so the program starts without, as from a terminal.
    environment.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    environment.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
    return environment;
}

bool startProgramDetached(const QString& program, const QStringList& arguments, const QString& workingDirectory)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingDirectory);
    process.setProcessEnvironment(environmentForStartedPrograms());
    return process.startDetached();
}

} // namespace platform
