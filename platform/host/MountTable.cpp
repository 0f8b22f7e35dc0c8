#include "platform/host/MountTable.h"

#include "platform/foundation/Log.h"

#include <QFileInfo>

namespace platform {

namespace {

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

QHash<QString, QString> linksByDevice(const HostRoot& root, const QString& folder)
{
    QHash<QString, QString> result;
    for (const QString& name : root.listDirectory(folder).value_or(QStringList())) {
        const auto target = root.readLink(folder + QLatin1Char('/') + name);
        if (!target)
            continue;
        // udev escapes unsafe characters of labels as "\xNN".
        QByteArray decoded;
        const QByteArray bytes = name.toUtf8();
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\\' && i + 3 < bytes.size() && bytes[i + 1] == 'x') {
                bool ok = false;
                const int value = bytes.mid(i + 2, 2).toInt(&ok, 16);
                if (ok) {
                    decoded.append(char(value));
                    i += 3;
                    continue;
                }
            }
            decoded.append(bytes[i]);
        }
        result.insert(QFileInfo(*target).fileName(), QString::fromUtf8(decoded));
    }
    return result;
}

} // namespace

QString MountTable::unescape(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            out.append(char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return QString::fromUtf8(out);
}

namespace {

thread_local MountTable::ReadingScope* currentScope = nullptr;

std::optional<std::vector<MountEntry>> readNow(const HostRoot& root)
{
    const auto text = root.readFile(QStringLiteral("/proc/self/mountinfo"));
    return text ? std::optional(MountTable::parse(*text)) : std::nullopt;
}

} // namespace

MountTable::ReadingScope::ReadingScope() : outermost_(currentScope == nullptr)
{
    if (outermost_)
        currentScope = this;
}

MountTable::ReadingScope::~ReadingScope()
{
    if (outermost_)
        currentScope = nullptr;
}

std::optional<std::vector<MountEntry>> MountTable::read(const HostRoot& root)
{
    if (!currentScope)
        return readNow(root);
    auto known = currentScope->tables_.find(root.root());
    if (known == currentScope->tables_.end())
        known = currentScope->tables_.insert(root.root(), readNow(root));
    return *known;
}

std::vector<MountEntry> MountTable::parse(const QByteArray& text)
{
    std::vector<MountEntry> result;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype number = 0; number < lines.size(); ++number) {
        const QByteArray& line = lines[number];
        if (line.trimmed().isEmpty())
            continue;
        // "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue": six fixed
        // fields, any number of optional fields, "-", then type, source and super options.
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf(QByteArray("-"), 6);
        bool ok = separator >= 6 && fields.size() >= separator + 3;
        MountEntry entry;
        if (ok) {
            bool idOk = false;
            bool parentOk = false;
            entry.mountID = fields[0].toInt(&idOk);
            entry.parentID = fields[1].toInt(&parentOk);
            const qsizetype colon = fields[2].indexOf(':');
            bool majorOk = false;
            bool minorOk = false;
            entry.major = fields[2].left(colon).toUInt(&majorOk);
            entry.minor = fields[2].mid(colon + 1).toUInt(&minorOk);
            ok = idOk && parentOk && colon > 0 && majorOk && minorOk;
        }
        if (!ok) {
            log(QStringLiteral("MountTable: malformed mountinfo line %1\n").arg(number + 1));
            continue;
        }
        entry.root = unescape(fields[3]);
        entry.mountPoint = unescape(fields[4]);
        entry.mountOptions = QString::fromUtf8(fields[5]).split(QLatin1Char(','), Qt::SkipEmptyParts);
        entry.fileSystemType = unescape(fields[separator + 1]);
        entry.source = unescape(fields[separator + 2]);
        if (fields.size() > separator + 3)
            entry.superOptions = unescape(fields[separator + 3]).split(QLatin1Char(','), Qt::SkipEmptyParts);
        result.push_back(std::move(entry));
    }
    return result;
}

QHash<QString, QString> MountTable::volumeUUIDsByDevice(const HostRoot& root)
{
    return linksByDevice(root, QStringLiteral("/dev/disk/by-uuid"));
}

QHash<QString, QString> MountTable::volumeLabelsByDevice(const HostRoot& root)
{
    return linksByDevice(root, QStringLiteral("/dev/disk/by-label"));
}

QString MountTable::deviceNameOfSource(const HostRoot& root, const QString& source)
{
    if (!source.startsWith(QLatin1String("/dev/")))
        return {};
    if (const auto target = root.readLink(source))
        return QFileInfo(*target).fileName();
    return QFileInfo(source).fileName();
}

} // namespace platform
