#pragma once
// TEVSensorHistoryFile: the long-term history file "SensorHistory.tevshf", a sequential archive whose root is
// serial number → (sensor identifier → TEVSensorHistory), shared by every computer that was monitored here
// and by both programs. Used by the acquisition core on its capture thread; saves of several threads or
// processes are serialised by a lock file beside it.

#include "acquisition/TEVSensorHistory.h"
#include "platform/foundation/ArchiveOptions.h"
#include "platform/foundation/Paths.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>
#include <memory>

class TEVSensorHistoryFile {
public:
    using Histories = QMap<QString, std::shared_ptr<TEVSensorHistory>>; // sensor identifier → history
    using Entries = QMap<QString, Histories>;                            // serial number → histories

    static QString fileName() { return QStringLiteral("SensorHistory.tevshf"); }

    struct ReadResult {
        enum class Status {
            Missing,    // no file: nothing to read
            Read,       // every entry read
            Salvaged,   // the file is damaged; `entries` holds what could be read of it
            Corrupt,    // not a history file at all; `entries` is empty
            Unreadable, // the file exists but could not be read (permissions, I/O error)
        };
        Status status = Status::Missing;
        Entries entries;
        int skipped = 0; // values that were not sound histories
        QString error;   // why the status is not Missing or Read
    };

    // Larger than the archive decoder takes, a file cannot be a history file.
    static constexpr qsizetype maximumFileBytes = platform::ArchiveLimits{}.maxInputBytes;
    // The file's bytes, opened without waiting: what is not a regular file (a FIFO, a device, a link to
    // one) or is larger than maximumFileBytes is Unreadable, with why, and never read.
    struct FileBytes {
        ReadResult::Status status = ReadResult::Status::Missing; // Missing, Read or Unreadable
        QByteArray bytes;
        QString error;
    };
    static FileBytes readBytes(const QString& path);

    explicit TEVSensorHistoryFile(QString path);
    const QString& path() const { return path_; }

    // Reads the file. Never changes it.
    ReadResult read() const;
    // Puts `histories` under `serialNumber` and keeps every other computer's entry, as one read-modify-write
    // under the lock file; the file is replaced atomically (a link at its target, and the link stays). A
    // damaged or corrupt file is first moved aside (to "<name>.unreadable-<UTC time>", logged) so that
    // nothing it held is lost; a file that cannot be read at all is left alone and the save fails. Temporary
    // files of interrupted saves are removed.
    platform::FileWriteResult saveEntry(const QString& serialNumber, const Histories& histories);
    // Removes the temporary files of interrupted saves unless a save runs now; how many went.
    int removeStaleTemporaryFiles() const;

    static QByteArray encode(const Entries& entries);
    // Checks every level: the root must be a dictionary of dictionaries; a value that is not a sound history
    // is skipped (and counted), so one bad history costs only itself.
    static ReadResult decode(const QByteArray& data);

    // How long a save waits for another writer's lock before it gives up; seconds.
    void setLockTimeout(double seconds) { lockTimeout_ = seconds; }
    // Test seam: writes the new file in place of Paths::writeFileSafely.
    using Writer = std::function<platform::FileWriteResult(const QString& path, const QByteArray& bytes)>;
    void setWriter(Writer writer) { writer_ = std::move(writer); }

private:
    // Those beside `file`, the history file where it really lives.
    int removeTemporaryFiles(const QString& file) const;

    QString path_;
    double lockTimeout_ = 10.0;
    Writer writer_;
};
