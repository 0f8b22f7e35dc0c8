#include "platform/hardware/LinuxSmcConnection.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Log.h"

#include <QFile>

#include <cerrno>
#include <utility>

namespace platform {

namespace {

const char* const kClass = "LinuxSmcConnection";
const QString kDevice = QStringLiteral("/sys/devices/platform/applesmc.768/");

// sysfs ends text attributes with a line feed; spaces are part of names and types ("ui8 ", "REV ").
QByteArray withoutLineFeed(QByteArray text)
{
    if (text.endsWith('\n'))
        text.chop(1);
    return text;
}

std::optional<quint32> parseDecimal(const QByteArray& text)
{
    bool ok = false;
    const QByteArray trimmed = text.trimmed();
    const qulonglong value = trimmed.toULongLong(&ok, 10);
    if (!ok || trimmed.isEmpty() || value > 0xffffffffULL)
        return std::nullopt;
    return quint32(value);
}

// A four-character code from an attribute; a driver that trims trailing spaces gets them back.
std::optional<quint32> parseCode(const QByteArray& raw)
{
    const QByteArray text = withoutLineFeed(raw);
    if (text.isEmpty() || text.size() > 4)
        return std::nullopt;
    quint32 code = 0;
    for (int i = 0; i < 4; ++i)
        code = (code << 8) | (i < text.size() ? quint8(text[i]) : quint8(' '));
    return code;
}

} // namespace

HostRootSmcSysfs::HostRootSmcSysfs(std::shared_ptr<const HostRoot> root) : root_(std::move(root)) {}

std::optional<QByteArray> HostRootSmcSysfs::access(const QString& attribute, const std::optional<QByteArray>& write)
{
    const QString path = root_->path(kDevice + attribute);
    if (!write)
        return root_->readFile(kDevice + attribute, 4096);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        errno = file.error() == QFileDevice::OpenError && QFile::exists(path) ? EACCES : ENODEV;
        return std::nullopt;
    }
    if (file.write(*write) != write->size()) {
        errno = EIO;
        return std::nullopt;
    }
    return write;
}

LinuxSmcConnection::LinuxSmcConnection(std::shared_ptr<SmcSysfs> sysfs) : sysfs_(std::move(sysfs))
{
    if (!sysfs_)
        sysfs_ = std::make_shared<HostRootSmcSysfs>(HostRoot::current());
}

int LinuxSmcConnection::open()
{
    if (open_)
        return 0;
    const std::optional<quint32> count = readCount();
    if (!count)
        return ENODEV;
    indexOfKey_.clear();
    quint32 skipped = 0;
    for (quint32 index = 0; index < *count; ++index) {
        errno = 0;
        const std::optional<Entry> entry = readEntry(index, Detail::Name);
        if (!entry) {
            if (errno == EACCES || errno == EPERM)
                return EACCES;
            ++skipped;
            continue;
        }
        // The first of two equal names wins, as a lookup by name finds the first.
        if (!indexOfKey_.contains(entry->key))
            indexOfKey_.insert(entry->key, index);
    }
    if (skipped > 0)
        log(kClass, QStringLiteral("%1 of %2 keys unreadable by index; they read as missing").arg(skipped).arg(*count));
    count_ = *count;
    open_ = true;
    return 0;
}

void LinuxSmcConnection::close()
{
    open_ = false;
    lastInfo_.reset();
    indexOfKey_.clear();
    count_ = 0;
}

SmcAnswer<quint32> LinuxSmcConnection::keyCount()
{
    lastInfo_.reset();
    if (!open_)
        return SmcAnswer<quint32>::failure(smcresult::Error);
    const std::optional<quint32> count = readCount();
    return count ? SmcAnswer<quint32>::success(*count) : SmcAnswer<quint32>::failure(smcresult::Error);
}

SmcAnswer<quint32> LinuxSmcConnection::keyAtIndex(quint32 index)
{
    lastInfo_.reset();
    if (!open_)
        return SmcAnswer<quint32>::failure(smcresult::Error);
    if (index >= count_)
        return SmcAnswer<quint32>::failure(smcresult::KeyNotFound);
    const std::optional<Entry> entry = readEntry(index, Detail::Name);
    return entry ? SmcAnswer<quint32>::success(entry->key) : SmcAnswer<quint32>::failure(smcresult::Error);
}

SmcAnswer<SmcKeyInfo> LinuxSmcConnection::keyInfo(quint32 key)
{
    const SmcAnswer<Entry> entry = entryForKey(key);
    lastInfo_ = entry.value;
    return entry.ok() ? SmcAnswer<SmcKeyInfo>::success(entry.value->info)
                      : SmcAnswer<SmcKeyInfo>::failure(entry.result);
}

SmcAnswer<QByteArray> LinuxSmcConnection::readKey(quint32 key)
{
    std::optional<Entry> taken = std::exchange(lastInfo_, std::nullopt);
    const SmcAnswer<Entry> entry = taken && taken->key == key && open_ ? SmcAnswer<Entry>::success(std::move(*taken))
                                                                       : entryForKey(key);
    return entry.ok() ? SmcAnswer<QByteArray>::success(entry.value->bytes.left(MaxDataBytes))
                      : SmcAnswer<QByteArray>::failure(entry.result);
}

SmcAnswer<LinuxSmcConnection::Entry> LinuxSmcConnection::entryForKey(quint32 key)
{
    if (!open_)
        return SmcAnswer<Entry>::failure(smcresult::Error);
    const quint32 countKey = fourCharCode(QStringLiteral("#KEY"));
    const auto found = indexOfKey_.constFind(key);
    if (found == indexOfKey_.constEnd()) {
        // Not every firmware lists "#KEY" in its index; the driver's count is the same number.
        if (key != countKey)
            return SmcAnswer<Entry>::failure(smcresult::KeyNotFound);
        const std::optional<quint32> count = readCount();
        if (!count)
            return SmcAnswer<Entry>::failure(smcresult::Error);
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char((*count >> (24 - 8 * i)) & 0xff);
        return SmcAnswer<Entry>::success({countKey, {4, fourCharCode(QStringLiteral("ui32"))}, bytes});
    }
    const std::optional<Entry> entry = readEntry(*found, Detail::Full);
    if (!entry)
        return SmcAnswer<Entry>::failure(smcresult::Error);
    if (entry->key != key) {
        log(kClass, QStringLiteral("key %1 moved in the index").arg(fourCharText(key)));
        return SmcAnswer<Entry>::failure(smcresult::Error);
    }
    return SmcAnswer<Entry>::success(*entry);
}

std::optional<quint32> LinuxSmcConnection::readCount()
{
    const std::optional<QByteArray> text = read(QStringLiteral("key_count"));
    return text ? parseDecimal(*text) : std::nullopt;
}

std::optional<QByteArray> LinuxSmcConnection::read(const QString& attribute)
{
    return sysfs_->access(attribute, std::nullopt);
}

std::optional<LinuxSmcConnection::Entry> LinuxSmcConnection::readEntry(quint32 index, Detail detail)
{
    std::optional<Entry> entry = readEntryOnce(index, detail);
    if (!entry && errno == EAGAIN)
        entry = readEntryOnce(index, detail);
    return entry;
}

std::optional<LinuxSmcConnection::Entry> LinuxSmcConnection::readEntryOnce(quint32 index, Detail detail)
{
    if (!sysfs_->access(QStringLiteral("key_at_index"), QByteArray::number(index)))
        return std::nullopt;
    const std::optional<QByteArray> name = read(QStringLiteral("key_at_index_name"));
    const std::optional<quint32> key = name ? parseCode(*name) : std::nullopt;
    if (!key) {
        errno = EIO;
        return std::nullopt;
    }
    Entry entry;
    entry.key = *key;
    if (detail == Detail::Full) {
        const std::optional<QByteArray> type = read(QStringLiteral("key_at_index_type"));
        const std::optional<QByteArray> length = read(QStringLiteral("key_at_index_data_length"));
        const std::optional<QByteArray> data = read(QStringLiteral("key_at_index_data"));
        const std::optional<quint32> code = type ? parseCode(*type) : std::nullopt;
        const std::optional<quint32> size = length ? parseDecimal(*length) : std::nullopt;
        // The data attribute is raw binary of exactly the reported length; anything else is a torn read.
        if (!code || !size || !data || quint32(data->size()) != *size) {
            errno = EIO;
            return std::nullopt;
        }
        entry.info = {*size, *code};
        entry.bytes = *data;
    }
    // Another process may have selected another index meanwhile.
    const std::optional<QByteArray> selected = read(QStringLiteral("key_at_index"));
    const std::optional<QByteArray> nameAgain = read(QStringLiteral("key_at_index_name"));
    const std::optional<quint32> indexAgain = selected ? parseDecimal(*selected) : std::nullopt;
    if (indexAgain != index || !nameAgain || parseCode(*nameAgain) != key) {
        errno = EAGAIN;
        return std::nullopt;
    }
    return entry;
}

} // namespace platform
