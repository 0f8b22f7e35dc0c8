#include "platform/hardware/LinuxAtaSmartTransport.h"

#include "platform/foundation/HostRoot.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <scsi/sg.h>

using platform::LinuxAtaSmartTransport;

namespace {

// A drive behind SG_IO: records each command block and answers through `reply`.
class ScriptedSgIo final : public platform::SgIoDevice {
public:
    std::function<int(const QByteArray& cdb, sg_io_hdr& request)> reply;
    mutable std::vector<QByteArray> commands;

    int submit(int, sg_io_hdr& request) const override
    {
        const QByteArray cdb(reinterpret_cast<const char*>(request.cmdp), request.cmd_len);
        commands.push_back(cdb);
        return reply(cdb, request);
    }
};

// Descriptor-format sense with an ATA Status Return descriptor (what libata gives for CK_COND).
int registersReply(sg_io_hdr& request, quint8 mid, quint8 high, quint8 status = 0x50)
{
    quint8 sense[22] = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C};
    sense[8 + 9] = mid;
    sense[8 + 11] = high;
    sense[8 + 13] = status;
    std::memcpy(request.sbp, sense, sizeof sense);
    request.sb_len_wr = sizeof sense;
    request.status = 0x02; // CHECK CONDITION
    request.driver_status = 0x08;
    return 0;
}

// Fixed-format sense with ATA information (what libata gives since 6.11): byte 9 LBA low, 10 mid, 11 high.
int fixedRegistersReply(sg_io_hdr& request, quint8 mid, quint8 high)
{
    quint8 sense[18] = {0x70, 0, 0x01, 0, 0x50, 0, 0, 10, 0, 0, 0, 0, 0x00, 0x1D};
    sense[9] = 0x77;
    sense[10] = mid;
    sense[11] = high;
    std::memcpy(request.sbp, sense, sizeof sense);
    request.sb_len_wr = sizeof sense;
    request.status = 0x02;
    request.driver_status = 0x08;
    return 0;
}

int illegalOpcode(sg_io_hdr& request)
{
    const quint8 sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
    std::memcpy(request.sbp, sense, sizeof sense);
    request.sb_len_wr = sizeof sense;
    request.status = 0x02;
    return 0;
}

struct Rig {
    QTemporaryDir dir;
    std::shared_ptr<ScriptedSgIo> sgio = std::make_shared<ScriptedSgIo>();
    std::unique_ptr<LinuxAtaSmartTransport> transport;

    Rig()
    {
        // A plain file stands for the node: the scripted ioctl never reaches a device.
        kelvaro::test::writeFile(dir.path() + "/dev/sda", "");
        transport = std::make_unique<LinuxAtaSmartTransport>(std::make_shared<platform::HostRoot>(dir.path()), sgio);
    }
};

} // namespace

TEST(LinuxAtaSmartTransport, SendsSixteenByteCommandsAndReadsStatusRegisters)
{
    Rig rig;
    quint8 mid = 0x4F, high = 0xC2;
    rig.sgio->reply = [&](const QByteArray& cdb, sg_io_hdr& request) {
        if (quint8(cdb[4]) == 0xDA)
            return registersReply(request, mid, high);
        if (request.dxfer_direction == SG_DXFER_FROM_DEV)
            std::memset(request.dxferp, 0xAB, request.dxfer_len);
        return 0;
    };
    auto connection = rig.transport->open("sda").connection;
    ASSERT_TRUE(connection);
    EXPECT_TRUE(connection->enableOperations());
    EXPECT_EQ(connection->returnStatus(), std::optional<bool>(false));
    mid = 0xF4, high = 0x2C;
    EXPECT_EQ(connection->returnStatus(), std::optional<bool>(true));
    mid = 0x00, high = 0x00;
    EXPECT_FALSE(connection->returnStatus());
    const auto data = connection->readData();
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, QByteArray(512, char(0xAB)));
    ASSERT_TRUE(connection->identify());

    const auto hex = [](const QByteArray& b) { return b.toHex(' ').toStdString(); };
    EXPECT_EQ(hex(rig.sgio->commands[0]), "85 06 00 00 d8 00 00 00 00 00 4f 00 c2 00 b0 00");
    EXPECT_EQ(hex(rig.sgio->commands[1]), "85 06 20 00 da 00 00 00 00 00 4f 00 c2 00 b0 00");
    EXPECT_EQ(hex(rig.sgio->commands[4]), "85 08 0e 00 d0 00 01 00 00 00 4f 00 c2 00 b0 00");
    EXPECT_EQ(hex(rig.sgio->commands[5]), "85 08 0e 00 00 00 01 00 00 00 00 00 00 00 ec 00");
}

TEST(LinuxAtaSmartTransport, ReadsStatusRegistersFromFixedFormatSense)
{
    Rig rig;
    quint8 mid = 0x4F, high = 0xC2;
    rig.sgio->reply = [&](const QByteArray&, sg_io_hdr& request) { return fixedRegistersReply(request, mid, high); };
    auto connection = rig.transport->open("sda").connection;
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->returnStatus(), std::optional<bool>(false));
    mid = 0xF4, high = 0x2C;
    EXPECT_EQ(connection->returnStatus(), std::optional<bool>(true));
}

TEST(LinuxAtaSmartTransport, FallsBackToTwelveBytesAndStaysThere)
{
    Rig rig;
    rig.sgio->reply = [](const QByteArray& cdb, sg_io_hdr& request) {
        if (quint8(cdb[0]) == 0x85)
            return illegalOpcode(request);
        return quint8(cdb[3]) == 0xDA ? registersReply(request, 0x4F, 0xC2) : 0;
    };
    auto connection = rig.transport->open("sda").connection;
    ASSERT_TRUE(connection);
    EXPECT_TRUE(connection->readThresholds());
    EXPECT_EQ(connection->returnStatus(), std::optional<bool>(false));
    ASSERT_EQ(rig.sgio->commands.size(), 3u);
    EXPECT_EQ(rig.sgio->commands[1].toHex(' '), "a1 08 0e d1 01 00 4f c2 00 b0 00 00");
    EXPECT_EQ(quint8(rig.sgio->commands[2][0]), 0xA1);
}

TEST(LinuxAtaSmartTransport, FailuresAreReportedNotPassedOffAsPages)
{
    const struct {
        const char* name;
        std::function<int(sg_io_hdr&)> reply;
    } rows[] = {
        {"no CAP_SYS_RAWIO", [](sg_io_hdr&) { return EPERM; }},
        {"host error", [](sg_io_hdr& r) { r.host_status = 0x07; return 0; }},
        {"short page", [](sg_io_hdr& r) { r.resid = 12; return 0; }},
        {"ATA error bit", [](sg_io_hdr& r) { return registersReply(r, 0, 0, 0x51); }},
        {"medium error", [](sg_io_hdr& r) {
             const quint8 sense[18] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00};
             std::memcpy(r.sbp, sense, sizeof sense);
             r.sb_len_wr = sizeof sense;
             r.status = 0x02;
             return 0;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        rig.sgio->reply = [&](const QByteArray&, sg_io_hdr& r) { return row.reply(r); };
        auto connection = rig.transport->open("sda").connection;
        ASSERT_TRUE(connection);
        EXPECT_FALSE(connection->readData());
        EXPECT_FALSE(connection->returnStatus());
    }
}

TEST(LinuxAtaSmartTransport, OpensOnlyNodesNamedByABsdName)
{
    Rig rig;
    rig.sgio->reply = [](const QByteArray&, sg_io_hdr&) { return 0; };
    EXPECT_EQ(rig.transport->open("sdb").error, ENOENT);
    EXPECT_EQ(rig.transport->open("../dev/sda").error, ENODEV);
    EXPECT_EQ(rig.transport->open("").error, ENODEV);
    EXPECT_TRUE(rig.sgio->commands.empty());

    // The real ioctl refuses anything but a device node.
    LinuxAtaSmartTransport real(std::make_shared<platform::HostRoot>(rig.dir.path()));
    auto connection = real.open("sda").connection;
    ASSERT_TRUE(connection);
    EXPECT_FALSE(connection->enableOperations());
}
