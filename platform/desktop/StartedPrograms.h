#pragma once
// The environment of every program this one starts (a browser or mail program through xdg-open, Kelvaro Lite,
// an alert's program, the speech engine): the session's as the user had it. Not what this process set for
// itself alone (the platform it chose), nor an activation token, which the desktop honours once and which
// this process's own start or window already used. Thread-safe.

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace platform {

// Sets `name` in this process's environment, for this process alone: the programs it starts get the value
// `name` had before (none, if it had none). Once per name, before the first start.
void setEnvironmentVariableForThisProcess(const char* name, const QByteArray& value);

// The environment a program started now gets.
QProcessEnvironment environmentForStartedPrograms();

// Starts `program` (a path, or a name looked up on the PATH) detached, with that environment; false when it
// could not be started.
bool startProgramDetached(const QString& program, const QStringList& arguments, const QString& workingDirectory = {});

} // namespace platform
