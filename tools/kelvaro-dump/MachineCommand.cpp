#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/SimulatedComputer.h"

using namespace platform;

namespace dump {

namespace {

// KEY=value lines of os-release; values may be quoted.
QVariantMap osRelease(const QString& text)
{
    QVariantMap fields;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || line.startsWith(QLatin1Char('#')))
            continue;
        QString value = line.mid(eq + 1).trimmed();
        if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''))
            && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        fields.insert(line.left(eq).trimmed(), value);
    }
    return fields;
}

} // namespace

int machineCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    const auto root = HostRoot::current();
    QVariantMap machine;
    bool complete = true;
    const auto firstLine = [&](const QString& path, const QString& key) {
        if (const auto text = root->readTextFile(path))
            machine.insert(key, text->section(QLatin1Char('\n'), 0, 0).trimmed());
    };
    if (const auto text = root->readTextFile(QStringLiteral("/etc/os-release"))) {
        const QVariantMap fields = osRelease(*text);
        for (const char* key : {"PRETTY_NAME", "NAME", "VERSION_ID"})
            if (fields.contains(QLatin1String(key)))
                machine.insert(QStringLiteral("OS.%1").arg(QLatin1String(key)), fields.value(QLatin1String(key)));
    } else {
        printError(QStringLiteral("%1: unreadable").arg(root->path(QStringLiteral("/etc/os-release"))));
        complete = false;
    }
    firstLine(QStringLiteral("/proc/sys/kernel/osrelease"), QStringLiteral("KernelRelease"));
    firstLine(QStringLiteral("/proc/sys/kernel/hostname"), QStringLiteral("HostName"));
    machine.insert(QStringLiteral("HostRoot"), root->root());
    if (SimulatedComputer::isSelected()) {
        const auto computer = SimulatedComputer::current();
        if (computer)
            machine.insert(QStringLiteral("SimulatedComputer"), computer->name());
        else
            complete = false;
    }
    printPropertyList(machine);
    return complete ? 0 : 1;
}

} // namespace dump
