#pragma once
// LinuxSmcConnection: the SMC through the applesmc driver's sysfs attributes. Keys are reached by index only
// (write key_at_index, then read key_at_index_name/_type/_data_length/_data), so opening scans the index
// once to map names to indices. One selection reads a key's information and bytes together, so the bytes
// of a keyInfo serve the readKey of the same key that directly follows it (the SMC reader's two steps)
// without a second read of the SMC. Owned by its reader; one thread. Writing the index needs root.

#include "platform/hardware/SmcConnection.h"

#include <QHash>

#include <memory>

namespace platform {

class HostRoot;

// The attribute files of the applesmc device; tests replace it with a fake tree or a racing writer.
class SmcSysfs {
public:
    virtual ~SmcSysfs() = default;
    // Reads (`write` empty) or writes one attribute; a read gives its bytes, a write gives them back.
    // Nothing on failure, with errno set.
    virtual std::optional<QByteArray> access(const QString& attribute, const std::optional<QByteArray>& write) = 0;
};

// The attributes under <host root>/sys/devices/platform/applesmc.768/.
class HostRootSmcSysfs final : public SmcSysfs {
public:
    explicit HostRootSmcSysfs(std::shared_ptr<const HostRoot> root);
    std::optional<QByteArray> access(const QString& attribute, const std::optional<QByteArray>& write) override;

private:
    std::shared_ptr<const HostRoot> root_;
};

class LinuxSmcConnection final : public SmcConnection {
public:
    // Null `sysfs`: the device under the current HostRoot.
    explicit LinuxSmcConnection(std::shared_ptr<SmcSysfs> sysfs = nullptr);

    int open() override;
    void close() override;
    bool isOpen() const override { return open_; }

    SmcAnswer<quint32> keyCount() override;
    SmcAnswer<quint32> keyAtIndex(quint32 index) override;
    SmcAnswer<SmcKeyInfo> keyInfo(quint32 key) override;
    SmcAnswer<QByteArray> readKey(quint32 key) override;

private:
    struct Entry {
        quint32 key = 0;
        SmcKeyInfo info;
        QByteArray bytes;
    };
    enum class Detail { Name, Full };

    std::optional<quint32> readCount();
    // One selection of `index` read back; the index is shared by every process, so a reading whose
    // index or name changed meanwhile is retried once.
    std::optional<Entry> readEntry(quint32 index, Detail detail);
    std::optional<Entry> readEntryOnce(quint32 index, Detail detail);
    std::optional<QByteArray> read(const QString& attribute);
    SmcAnswer<Entry> entryForKey(quint32 key);

    std::shared_ptr<SmcSysfs> sysfs_;
    // The entry the last call read by keyInfo; taken by the next call if it is readKey of that key.
    std::optional<Entry> lastInfo_;
    bool open_ = false;
    quint32 count_ = 0;
    QHash<quint32, quint32> indexOfKey_;
};

} // namespace platform
