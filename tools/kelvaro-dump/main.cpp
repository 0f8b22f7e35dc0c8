// kelvaro-dump: a developer tool that prints what the system reads: archives, the machine and its hardware.

#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/Paths.h"
#include "sensors/TEVBatteryInfo.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

// One row per command, in the order the usage text lists them.
const dump::Command commands[] = {
    {"archive", "archive FILE...", "decode keyed or sequential archives and print their object trees",
     dump::archiveCommand, false},
    {"machine", "machine", "the machine information: processor, memory, model, serial number, firmware, system",
     dump::machineCommand, true},
    {"sensors", "sensors [--probes FILE] [--wait SECONDS]",
     "list every sensor, one tab-separated line each: identifier, quantity type, location, name, raw value, "
     "physical value; probes: one of each kind, or those of FILE (a \"LocalProbes\" array); --wait lets the "
     "samplers tick first",
     dump::sensorsCommand, true},
    {"probes", "probes", "the probe kinds with the sources each offers on this computer", dump::probesCommand, true},
    {"mounts", "mounts", "the mounted file systems with their fields and figures", dump::mountsCommand, true},
    {"drives", "drives", "describe the block storage devices", dump::drivesCommand, true},
    {"smart", "smart IDENTIFY DATA THRESHOLDS",
     "decode saved 512-byte S.M.A.R.T. pages: identity, attributes, thresholds, temperature", dump::smartCommand, false},
    {"smbios", "smbios", "decode the SMBIOS table into its structures", dump::smbiosCommand, true},
    {"smc-keys", "smc-keys", "list every SMC key: key, type, size, bytes, value (tab-separated)",
     dump::smcKeysCommand, true},
    {"batteries", "batteries", "the readouts of every battery", dump::batteriesCommand, true},
    {"displays", "displays", "the description of every display, from its EDID", dump::displaysCommand, true},
    {"edid", "edid FILE...", "decode EDID files into display descriptions", dump::edidCommand, false},
    {"history", "history FILE",
     "a long-term history file: per serial number and sensor the slot count, step, newest time and value",
     dump::historyCommand, false},
    {"watch", "watch SECONDS",
     "run a monitoring client of this computer for SECONDS and print every tick's values in the columns of "
     "sensors, each tick after a \"# tick N at T s\" line",
     dump::watchCommand, true},
};

int usage()
{
    std::fputs("usage: kelvaro-dump [--simulate DIR] [--root DIR] COMMAND ...\n"
               "  --simulate DIR  read the simulated computer in DIR instead of this machine\n"
               "  --root DIR      read /proc, /sys and /etc under DIR\n"
               "commands:\n",
        stderr);
    for (const auto& command : commands)
        std::fprintf(stderr, "  %-18s %s\n", command.synopsis, command.summary);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (args.isEmpty())
            return usage();
        const QString dir = args.takeFirst();
        if (option == QLatin1String("--simulate"))
            qputenv("KELVARO_SIMULATED_COMPUTER", QFile::encodeName(dir));
        else if (option == QLatin1String("--root"))
            qputenv("KELVARO_HOST_ROOT", QFile::encodeName(dir));
        else
            return usage();
    }
    if (args.isEmpty())
        return usage();
    const QString name = args.takeFirst();
    for (const auto& command : commands) {
        if (name == QLatin1String(command.name)) {
            // Every reader of the computer would find nothing and print that as if it were the computer.
            if (command.readsComputer && dump::simulatedComputerFailedToLoad())
                return 1;
            // Battery packs by the numbers the program gave them, which the listing leaves as they are.
            TEVBatteryInfo::setNumberStorePath(platform::Paths::applicationSupportDirectory(QStringLiteral("Kelvaro"))
                                                   + QStringLiteral("BatteryNumbers.plist"),
                                               false);
            const int status = command.run(args);
            return status == 2 ? usage() : status;
        }
    }
    return usage();
}
