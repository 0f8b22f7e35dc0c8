// kelvaro-dump: a developer tool that prints what the system reads, as XML property lists: archives now,
// the machine and its sensors as later layers arrive. Diagnostics go to stderr; the exit status is 0 when
// every input was read.

#include "platform/foundation/ArchiveOptions.h"
#include "platform/foundation/HostRoot.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <optional>

using namespace platform;

namespace {

void printError(const QString& text)
{
    std::fputs(qPrintable(QStringLiteral("kelvaro-dump: ") + text + QLatin1Char('\n')), stderr);
}

int usage()
{
    std::fputs("usage: kelvaro-dump [--simulate DIR] [--root DIR] COMMAND ...\n"
               "commands:\n"
               "  archive FILE...   decode keyed or sequential archives and print their object trees\n"
               "  machine           describe the computer: operating system, kernel, host name\n",
        stderr);
    return 2;
}

// Property lists cannot hold nil or live objects: nil prints as "$null", an object as its class name.
QVariant printable(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::Invalid:
        return QStringLiteral("$null");
    case values::Kind::Object:
        return QVariantMap{{"$class", values::toObject(value)->className()}};
    case values::Kind::Array: {
        QVariantList out;
        for (const QVariant& element : value.toList())
            out.append(printable(element));
        return out;
    }
    case values::Kind::Dictionary: {
        QVariantMap out;
        const QVariantMap in = value.toMap();
        for (auto it = in.cbegin(); it != in.cend(); ++it)
            out.insert(it.key(), printable(it.value()));
        return out;
    }
    default:
        return value;
    }
}

bool isSequentialArchive(const QByteArray& bytes)
{
    return bytes.size() >= 13 && bytes[0] == 4 && bytes[1] == 11
        && (bytes.mid(2, 11) == "streamtyped" || bytes.mid(2, 11) == "typedstream");
}

std::optional<QVariant> decodeArchive(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    UnarchiveOptions options;
    options.generic = true;
    if (isSequentialArchive(bytes)) {
        const QVariant root = SequentialUnarchiver::unarchiveObjectWithData(bytes, options);
        if (!root.isValid()) {
            printError(QStringLiteral("%1: not a readable sequential archive").arg(path));
            return std::nullopt;
        }
        return printable(root);
    }
    const PlistReadResult plist = readPropertyList(bytes);
    const auto envelope = values::toDictionary(plist.value);
    if (!envelope || !envelope->contains(QStringLiteral("$archiver"))) {
        printError(QStringLiteral("%1: not an archive%2").arg(path, plist.error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(plist.error)));
        return std::nullopt;
    }
    const auto unarchiver = KeyedUnarchiver::create(bytes, options);
    const auto topKeys = values::toDictionary(envelope->value(QStringLiteral("$top")));
    if (!unarchiver || !topKeys) {
        printError(QStringLiteral("%1: not a readable keyed archive").arg(path));
        return std::nullopt;
    }
    QVariantMap top;
    for (auto it = topKeys->cbegin(); it != topKeys->cend(); ++it)
        top.insert(it.key(), unarchiver->decodeObjectForKey(it.key()));
    if (unarchiver->hasFailed()) {
        printError(QStringLiteral("%1: not a readable keyed archive").arg(path));
        return std::nullopt;
    }
    // The usual single "root" prints as itself; other archives print every top-level key.
    if (top.size() == 1 && top.contains(QStringLiteral("root")))
        return printable(top.value(QStringLiteral("root")));
    return printable(top);
}

int archiveCommand(const QStringList& files)
{
    if (files.isEmpty())
        return usage();
    QVariantList results;
    bool allRead = true;
    for (const QString& path : files) {
        const auto tree = decodeArchive(path);
        allRead = allRead && tree.has_value();
        results.append(tree.value_or(QVariant(QVariantMap{})));
    }
    const QVariant output = files.size() == 1 ? results.first() : QVariant(results);
    const QByteArray xml = writePropertyList(output, PlistFormat::Xml);
    std::fwrite(xml.constData(), 1, size_t(xml.size()), stdout);
    return allRead ? 0 : 1;
}

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

int machineCommand()
{
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
    const QByteArray xml = writePropertyList(machine, PlistFormat::Xml);
    std::fwrite(xml.constData(), 1, size_t(xml.size()), stdout);
    return complete ? 0 : 1;
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
    const QString command = args.takeFirst();
    if (command == QLatin1String("archive"))
        return archiveCommand(args);
    if (command == QLatin1String("machine") && args.isEmpty())
        return machineCommand();
    return usage();
}
