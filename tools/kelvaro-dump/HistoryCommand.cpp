#include "tools/kelvaro-dump/Commands.h"

#include "acquisition/TEVSensorHistoryFile.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"

namespace dump {

// serial number → sensor identifier → {ValueCount, TimeDelta, NewestTime, NewestValue}, as stored: a
// strict read decides what is sound, and a generic decoding gives the fields before loading would move
// them on to the present.
int historyCommand(const QStringList& arguments)
{
    if (arguments.size() != 1)
        return 2;
    const QString path = arguments.first();
    using Status = TEVSensorHistoryFile::ReadResult::Status;
    // Read once, as the program reads it: a FIFO or a device is refused, never waited on.
    const auto file = TEVSensorHistoryFile::readBytes(path);
    if (file.status == Status::Missing) {
        printError(QStringLiteral("%1: no such file").arg(path));
        return 1;
    }
    if (file.status == Status::Unreadable) {
        printError(QStringLiteral("%1: %2").arg(path, file.error));
        return 1;
    }
    const auto read = TEVSensorHistoryFile::decode(file.bytes);
    if (read.status == Status::Corrupt) {
        printError(QStringLiteral("%1: %2").arg(path, read.error));
        return 1;
    }
    platform::UnarchiveOptions generic;
    generic.generic = true;
    const QVariantMap stored = platform::SequentialUnarchiver::unarchiveObjectWithData(file.bytes, generic).toMap();

    namespace values = platform::values;
    QVariantMap computers;
    for (auto computer = read.entries.cbegin(); computer != read.entries.cend(); ++computer) {
        const QVariantMap storedSensors = stored.value(computer.key()).toMap();
        QVariantMap sensors;
        for (auto sensor = computer.value().cbegin(); sensor != computer.value().cend(); ++sensor) {
            const QVariantMap fields = storedSensors.value(sensor.key()).toMap();
            const QVariantList slotValues = fields.value(QStringLiteral("$2")).toList();
            const qint64 index = values::toSigned(fields.value(QStringLiteral("$3"))).value_or(-1);
            sensors.insert(sensor.key(), QVariantMap{
                {QStringLiteral("ValueCount"), values::fromUnsigned(sensor.value()->valueCount())},
                {QStringLiteral("TimeDelta"), sensor.value()->timeDelta()},
                {QStringLiteral("NewestTime"), fields.value(QStringLiteral("$4"))},
                {QStringLiteral("NewestValue"), slotValues.value(index)},
            });
        }
        computers.insert(computer.key(), sensors);
    }
    printPropertyList(printable(computers));
    if (read.status == Status::Salvaged) {
        printError(QStringLiteral("%1: %2").arg(path, read.error));
        return 1;
    }
    return 0;
}

} // namespace dump
