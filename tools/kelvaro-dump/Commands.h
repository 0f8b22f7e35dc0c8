#pragma once
// kelvaro-dump's commands: each prints what it read to stdout (XML property lists unless it says otherwise),
// diagnostics to stderr, and returns the exit status (0 when everything was read, 1 when something was not,
// 2 for a usage error).

#include "sensors/TEVSensor.h"

#include <QStringList>
#include <QVariant>

class TEVArtificialSensor;

namespace dump {

struct Command {
    const char* name;
    const char* synopsis;
    const char* summary;
    int (*run)(const QStringList& arguments);
    bool readsComputer; // fails at once when the selected simulated computer could not be loaded
};

void printError(const QString& text);
// A simulated computer is selected but could not be loaded: says so. The commands that read the computer
// then fail (status 1) rather than print the values of a computer with nothing in it.
bool simulatedComputerFailedToLoad();
// Property lists cannot hold nil or live objects: nil prints as "$null", an object as its class name.
QVariant printable(const QVariant& value);
void printPropertyList(const QVariant& value);

int archiveCommand(const QStringList& arguments);
int machineCommand(const QStringList& arguments);
int sensorsCommand(const QStringList& arguments);
int drivesCommand(const QStringList& arguments);
int probesCommand(const QStringList& arguments);
int mountsCommand(const QStringList& arguments);
// One probe of each kind on its first source; kinds without a source on this computer are left out.
QList<std::shared_ptr<TEVArtificialSensor>> defaultProbes(const TEVSensorList& sensors);
int smartCommand(const QStringList& arguments);
int smbiosCommand(const QStringList& arguments);
int smcKeysCommand(const QStringList& arguments);
int batteriesCommand(const QStringList& arguments);
int displaysCommand(const QStringList& arguments);
int edidCommand(const QStringList& files);
int historyCommand(const QStringList& arguments);
int watchCommand(const QStringList& arguments);

} // namespace dump
