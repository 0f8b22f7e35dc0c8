#include "platform/hardware/LinuxAtaSmartTransport.h"

#include "platform/foundation/HostRoot.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// ATA PASS-THROUGH protocols (SAT): the commands here are non-data or PIO data-in.
constexpr quint8 kProtocolNonData = 3;
constexpr quint8 kProtocolPioIn = 4;

constexpr quint8 kCommandSmart = 0xB0;
constexpr quint8 kCommandIdentify = 0xEC;
constexpr quint8 kSmartReadData = 0xD0;
constexpr quint8 kSmartReadThresholds = 0xD1;
constexpr quint8 kSmartEnable = 0xD8;
constexpr quint8 kSmartReturnStatus = 0xDA;
// The S.M.A.R.T. signature in LBA mid/high, answered back inverted when a threshold is exceeded.
constexpr quint8 kSignatureMid = 0x4F;
constexpr quint8 kSignatureHigh = 0xC2;
constexpr quint8 kExceededMid = 0xF4;
constexpr quint8 kExceededHigh = 0x2C;

constexpr quint8 kSenseNoSense = 0x0;
constexpr quint8 kSenseRecoveredError = 0x1;
constexpr quint8 kSenseIllegalRequest = 0x5;
constexpr quint8 kAscInvalidOpcode = 0x20;
constexpr quint8 kAtaStatusError = 0x01;
constexpr quint8 kAtaStatusDeviceFault = 0x20;
constexpr unsigned kDriverStatusMask = 0x07; // DRIVER_SENSE (0x08) only says sense data came back

struct AtaCommand {
    quint8 command = 0;
    quint8 features = 0;
    quint8 sectorCount = 0;
    quint8 lbaMid = 0;
    quint8 lbaHigh = 0;
    bool dataIn = false;
    bool wantRegisters = false; // CK_COND: return the task-file registers in the sense data
};

struct AtaResult {
    bool ok = false;
    bool hasRegisters = false;
    quint8 lbaMid = 0;
    quint8 lbaHigh = 0;
    bool illegalRequest = false; // the form of the pass-through was refused, not the command
};

class SystemSgIo final : public SgIoDevice {
public:
    int submit(int fd, sg_io_hdr& request) const override
    {
        struct stat info {};
        if (fstat(fd, &info) != 0)
            return errno;
        if (!S_ISBLK(info.st_mode) && !S_ISCHR(info.st_mode))
            return ENOTBLK;
        return ::ioctl(fd, SG_IO, &request) == 0 ? 0 : errno;
    }
};

QByteArray commandBlock(const AtaCommand& command, bool sixteen)
{
    const quint8 protocol = command.dataIn ? kProtocolPioIn : kProtocolNonData;
    // T_DIR from the device, BYT_BLOK, T_LENGTH in the sector count field; CK_COND asks for registers.
    const quint8 flags = quint8((command.wantRegisters ? 0x20 : 0) | (command.dataIn ? 0x0E : 0));
    QByteArray cdb(sixteen ? 16 : 12, '\0');
    cdb[1] = char(protocol << 1);
    cdb[2] = char(flags);
    if (sixteen) {
        cdb[0] = char(0x85);
        cdb[4] = char(command.features);
        cdb[6] = char(command.sectorCount);
        cdb[10] = char(command.lbaMid);
        cdb[12] = char(command.lbaHigh);
        cdb[14] = char(command.command);
    } else {
        cdb[0] = char(0xA1);
        cdb[3] = char(command.features);
        cdb[4] = char(command.sectorCount);
        cdb[6] = char(command.lbaMid);
        cdb[7] = char(command.lbaHigh);
        cdb[9] = char(command.command);
    }
    return cdb;
}

// Sense key and the ATA registers, from descriptor (0x72/0x73, ATA Status Return descriptor 0x09) or fixed
// (0x70/0x71, registers in the information and command-specific fields) format.
struct Sense {
    quint8 key = 0;
    quint8 asc = 0;
    bool hasRegisters = false;
    quint8 status = 0;
    quint8 lbaMid = 0;
    quint8 lbaHigh = 0;
};

Sense parseSense(const quint8* sense, int length)
{
    Sense result;
    if (length < 8)
        return result;
    const quint8 format = sense[0] & 0x7F;
    if (format == 0x72 || format == 0x73) {
        result.key = sense[1] & 0x0F;
        result.asc = sense[2];
        const int end = std::min(length, 8 + int(sense[7]));
        for (int at = 8; at + 1 < end; at += 2 + sense[at + 1]) {
            if (sense[at] == 0x09 && at + 14 <= end) {
                result.hasRegisters = true;
                result.lbaMid = sense[at + 9];
                result.lbaHigh = sense[at + 11];
                result.status = sense[at + 13];
                break;
            }
        }
    } else if ((format == 0x70 || format == 0x71) && length >= 14) {
        result.key = sense[2] & 0x0F;
        result.asc = sense[12];
        if (result.asc == 0x00 && sense[13] == 0x1D) { // ATA PASS-THROUGH information available
            result.hasRegisters = true;
            result.status = sense[4];
            // Fixed format: byte 9 is LBA low, 10 LBA mid, 11 LBA high.
            result.lbaMid = sense[10];
            result.lbaHigh = sense[11];
        }
    }
    return result;
}

class LinuxConnection final : public AtaSmartConnection {
public:
    LinuxConnection(int fd, std::shared_ptr<const SgIoDevice> device) : fd_(fd), device_(std::move(device)) {}
    ~LinuxConnection() override { ::close(fd_); }

    bool enableOperations() override { return run(smart(kSmartEnable, false), nullptr).ok; }

    std::optional<bool> returnStatus() override
    {
        AtaCommand command = smart(kSmartReturnStatus, false);
        command.wantRegisters = true;
        const AtaResult result = run(command, nullptr);
        if (!result.ok || !result.hasRegisters)
            return std::nullopt;
        if (result.lbaMid == kSignatureMid && result.lbaHigh == kSignatureHigh)
            return false;
        if (result.lbaMid == kExceededMid && result.lbaHigh == kExceededHigh)
            return true;
        return std::nullopt;
    }

    std::optional<QByteArray> readData() override { return page(smart(kSmartReadData, true)); }
    std::optional<QByteArray> readThresholds() override { return page(smart(kSmartReadThresholds, true)); }
    std::optional<QByteArray> identify() override
    {
        AtaCommand command;
        command.command = kCommandIdentify;
        command.sectorCount = 1;
        command.dataIn = true;
        return page(command);
    }

private:
    static AtaCommand smart(quint8 feature, bool dataIn)
    {
        AtaCommand command;
        command.command = kCommandSmart;
        command.features = feature;
        command.sectorCount = dataIn ? 1 : 0;
        command.lbaMid = kSignatureMid;
        command.lbaHigh = kSignatureHigh;
        command.dataIn = dataIn;
        return command;
    }

    std::optional<QByteArray> page(const AtaCommand& command)
    {
        QByteArray buffer(PageSize, '\0');
        if (!run(command, &buffer).ok)
            return std::nullopt;
        return buffer;
    }

    AtaResult run(const AtaCommand& command, QByteArray* buffer)
    {
        if (!twelveOnly_) {
            const AtaResult result = runOnce(command, buffer, true);
            if (!result.illegalRequest)
                return result;
            twelveOnly_ = true; // the driver has no 16-byte form: keep to 12 bytes from now on
        }
        return runOnce(command, buffer, false);
    }

    AtaResult runOnce(const AtaCommand& command, QByteArray* buffer, bool sixteen)
    {
        QByteArray cdb = commandBlock(command, sixteen);
        std::array<quint8, 64> sense{};
        sg_io_hdr request{};
        request.interface_id = 'S';
        request.cmd_len = quint8(cdb.size());
        request.cmdp = reinterpret_cast<unsigned char*>(cdb.data());
        request.mx_sb_len = quint8(sense.size());
        request.sbp = sense.data();
        request.timeout = LinuxAtaSmartTransport::CommandTimeoutMs;
        if (buffer) {
            request.dxfer_direction = SG_DXFER_FROM_DEV;
            request.dxfer_len = unsigned(buffer->size());
            request.dxferp = buffer->data();
        } else {
            request.dxfer_direction = SG_DXFER_NONE;
        }

        AtaResult result;
        if (device_->submit(fd_, request) != 0)
            return result;
        const Sense parsed = parseSense(sense.data(), std::min<int>(request.sb_len_wr, int(sense.size())));
        if (parsed.key == kSenseIllegalRequest && parsed.asc == kAscInvalidOpcode) {
            result.illegalRequest = sixteen;
            return result;
        }
        if (request.host_status != 0 || (request.driver_status & kDriverStatusMask) != 0)
            return result;
        if (request.status != 0 && parsed.key != kSenseNoSense && parsed.key != kSenseRecoveredError)
            return result;
        if (parsed.hasRegisters && (parsed.status & (kAtaStatusError | kAtaStatusDeviceFault)))
            return result;
        if (buffer && request.resid != 0)
            return result; // a short page is no page
        result.ok = true;
        result.hasRegisters = parsed.hasRegisters;
        result.lbaMid = parsed.lbaMid;
        result.lbaHigh = parsed.lbaHigh;
        return result;
    }

    int fd_;
    std::shared_ptr<const SgIoDevice> device_;
    bool twelveOnly_ = false;
};

} // namespace

LinuxAtaSmartTransport::LinuxAtaSmartTransport(std::shared_ptr<const HostRoot> root,
                                               std::shared_ptr<const SgIoDevice> device)
    : root_(std::move(root)), device_(device ? std::move(device) : std::make_shared<SystemSgIo>())
{
}

AtaSmartTransport::OpenResult LinuxAtaSmartTransport::open(const QString& bsdName) const
{
    if (!isValidBsdName(bsdName))
        return {nullptr, ENODEV};
    const auto root = root_ ? root_ : HostRoot::current();
    const QByteArray path = QFile::encodeName(root->path(QStringLiteral("/dev/") + bsdName));
    // Non-blocking: an empty removable drive must not hold the caller up.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {nullptr, errno};
    return {std::make_unique<LinuxConnection>(fd, device_), 0};
}

} // namespace platform
