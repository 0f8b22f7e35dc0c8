#pragma once
// Recording stand-ins for the LCD controllers' links, and readable forms of the bytes they saw.

#include "lcd/TEVIOWarriorDevice.h"
#include "lcd/TEVSerialPortDevice.h"

#include <QByteArray>
#include <QStringList>

#include <memory>
#include <vector>

namespace lcdtest {

struct Recording {
    std::vector<QByteArray> writes; // one entry per report or serial write
    int opens = 0;
    bool failNext = false;
    bool failAll = false; // a chip that stopped answering
    int failures = 0;
};

class RecordingIoWarrior final : public platform::IoWarriorTransport {
public:
    explicit RecordingIoWarrior(std::shared_ptr<Recording> recording) : recording_(std::move(recording)) {}
    bool writeReport(const quint8* bytes, qsizetype count) override
    {
        if (std::exchange(recording_->failNext, false) || recording_->failAll) {
            ++recording_->failures;
            return false;
        }
        recording_->writes.emplace_back(reinterpret_cast<const char*>(bytes), count);
        return true;
    }

private:
    std::shared_ptr<Recording> recording_;
};

class RecordingSerial final : public platform::SerialTransport {
public:
    explicit RecordingSerial(std::shared_ptr<Recording> recording) : recording_(std::move(recording)) {}
    bool write(const QByteArray& bytes) override
    {
        recording_->writes.push_back(bytes);
        return true;
    }

private:
    std::shared_ptr<Recording> recording_;
};

inline std::shared_ptr<TEVIOWarriorDevice> recordingIoWarrior(const std::shared_ptr<Recording>& recording,
                                                              const QString& serial = QStringLiteral("0000ABCD"),
                                                              quint16 product = 0x1500)
{
    platform::IoWarriorInterface entry;
    entry.sysfsName = QStringLiteral("3-1:1.1");
    entry.productID = product;
    entry.interfaceNumber = 1;
    entry.usbSerialNumber = serial;
    return TEVIOWarriorDevice::createWithIORegistryEntry(entry, [recording] {
        ++recording->opens;
        return std::make_unique<RecordingIoWarrior>(recording);
    });
}

inline std::shared_ptr<TEVSerialPortDevice> recordingSerialPort(const std::shared_ptr<Recording>& recording)
{
    platform::SerialPortEntry entry{QStringLiteral("ttyUSB0"), QStringLiteral("usb-FTDI_A50285BI-if00-port0"),
                                    QStringLiteral("/dev/ttyUSB0")};
    return TEVSerialPortDevice::createWithIORegistryEntry(entry, [recording](const QString&) {
        ++recording->opens;
        platform::SerialPort::Opening opening;
        opening.port = std::make_unique<RecordingSerial>(recording);
        return opening;
    });
}

// An 8-byte report from its leading bytes.
inline QByteArray report(std::initializer_list<int> bytes)
{
    QByteArray result(8, '\0');
    int i = 0;
    for (int byte : bytes)
        result[i++] = char(byte);
    return result;
}

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

// "i80" for an instruction report, "d6" for a data report of six bytes, "m1" for LCD mode on.
inline QString shape(const std::vector<QByteArray>& reports)
{
    QStringList parts;
    for (const QByteArray& r : reports) {
        const auto id = quint8(r[0]), flags = quint8(r[1]);
        if (id == 0x04)
            parts << QStringLiteral("m%1").arg(flags);
        else if (flags & 0x80)
            parts << QStringLiteral("d%1").arg(flags & 0x07);
        else
            parts << QStringLiteral("i") + QString::number(quint8(r[2]), 16).rightJustified(2, QLatin1Char('0')).toUpper();
    }
    return parts.join(QLatin1Char(' '));
}

// The data bytes of every data report, in order.
inline QByteArray dataBytes(const std::vector<QByteArray>& reports)
{
    QByteArray result;
    for (const QByteArray& r : reports) {
        if (r[0] == 0x05 && (quint8(r[1]) & 0x80))
            result.append(r.mid(2, quint8(r[1]) & 0x07));
    }
    return result;
}

} // namespace lcdtest
