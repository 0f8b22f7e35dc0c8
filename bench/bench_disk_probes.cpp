// One update tick of the acquisition core over disk probes, on a host root whose mount table is that of a
// desktop with snaps and a network share: local probes only (processor time per tick), and with probes on
// a share whose server does not answer (real time per tick: the wait for the server).

#include "acquisition/TEVDataAcquisitionCore.h"
#include "bench/BenchSupport.h"
#include "platform/foundation/HostRoot.h"
#include "platform/host/FileSystemSpaceReader.h"
#include "sensors/TEVArtificialSensor.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

using Probe = TEVArtificialSensor;

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// 60 mounts: the system's, 40 snaps and a share.
QByteArray desktopMountTable()
{
    QByteArray table = "21 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
                       "22 21 259:1 / /boot/efi rw,relatime shared:2 - vfat /dev/nvme0n1p1 rw,fmask=0077\n"
                       "23 21 259:3 / /home rw,relatime shared:3 - ext4 /dev/nvme0n1p3 rw\n"
                       "24 21 0:22 / /proc rw,nosuid,nodev,noexec,relatime shared:4 - proc proc rw\n"
                       "25 21 0:23 / /sys rw,nosuid,nodev,noexec,relatime shared:5 - sysfs sysfs rw\n"
                       "26 21 0:5 / /dev rw,nosuid,relatime shared:6 - devtmpfs udev rw,size=8000000k\n"
                       "27 21 0:25 / /run rw,nosuid,nodev,noexec,relatime shared:7 - tmpfs tmpfs rw,size=1600000k\n";
    int id = 28;
    for (const char* system : {"/sys/kernel/security", "/dev/shm", "/run/lock", "/sys/fs/cgroup", "/sys/fs/pstore",
                               "/sys/firmware/efi/efivars", "/sys/fs/bpf", "/proc/sys/fs/binfmt_misc", "/dev/hugepages",
                               "/dev/mqueue", "/sys/kernel/debug", "/sys/kernel/tracing", "/sys/fs/fuse/connections",
                               "/sys/kernel/config", "/run/user/1000", "/run/user/1000/doc", "/tmp"}) {
        const QByteArray n = QByteArray::number(id++);
        table += n + " 21 0:" + n + " / " + system + " rw,nosuid,nodev shared:" + n + " - tmpfs tmpfs rw\n";
    }
    for (int snap = 0; snap < 40; ++snap) {
        const QByteArray n = QByteArray::number(id++);
        table += n + " 21 7:" + QByteArray::number(snap) + " / /snap/core22/" + QByteArray::number(1000 + snap)
                 + " ro,nodev,relatime shared:" + n + " - squashfs /dev/loop" + QByteArray::number(snap) + " ro\n";
    }
    table += QByteArray::number(id) + " 21 0:99 / /mnt/share rw,relatime shared:99 - nfs4 server:/export rw,vers=4.2\n";
    return table;
}

// A host root with that table and the space figures of its local file systems; the share's server is
// silent until the fixture ends.
struct Desktop {
    QTemporaryDir dir;
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    std::shared_ptr<std::condition_variable> released = std::make_shared<std::condition_variable>();
    std::shared_ptr<bool> serverBack = std::make_shared<bool>(false);

    Desktop()
    {
        writeFile(dir.path() + QStringLiteral("/proc/self/mountinfo"), desktopMountTable());
        writeFile(dir.path() + QStringLiteral("/run/kelvaro/statvfs"),
                  "/ 4096 25000000 12000000 11000000 6000000 5000000\n"
                  "/home 4096 100000000 50000000 45000000 20000000 19000000\n");
        platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(dir.path()));
        platform::FileSystemSpaceReader::setShared(std::make_shared<platform::FileSystemSpaceReader>(
            [mutex = mutex, released = released, back = serverBack](const platform::HostRoot& root, const QString& path) {
                if (path.startsWith(QLatin1String("/mnt/share"))) {
                    std::unique_lock lock(*mutex);
                    released->wait(lock, [&] { return *back; });
                    return std::optional<platform::FileSystemSpace>();
                }
                return platform::FileSystemSpace::query(root, path);
            }));
    }
    ~Desktop()
    {
        {
            std::lock_guard lock(*mutex);
            *serverBack = true;
        }
        released->notify_all();
        platform::FileSystemSpaceReader::setShared(nullptr);
        platform::HostRoot::setCurrent(nullptr);
    }
};

std::unique_ptr<TEVDataAcquisitionCore> coreWithDiskProbes(const QStringList& paths)
{
    TEVSensorList probes;
    for (const QString& path : paths) {
        for (qint64 kind = Probe::DiskCapacity; kind <= Probe::DiskUsed; ++kind)
            probes.append(Probe::createAsStorageSensorForPath(path, kind));
    }
    TEVDataAcquisitionCore::Sources sources;
    sources.allSensors = [probes] { return probes; };
    return std::make_unique<TEVDataAcquisitionCore>(std::move(sources));
}

void DiskProbesOneTick(benchmark::State& state)
{
    Desktop desktop;
    const auto core = coreWithDiskProbes({QStringLiteral("/"), QStringLiteral("/home")});
    for (auto _ : state)
        benchmark::DoNotOptimize(core->currentRawValues());
}
BENCHMARK(DiskProbesOneTick)->Unit(benchmark::kMicrosecond);

void DiskProbesOneTickWithSilentShare(benchmark::State& state)
{
    Desktop desktop;
    const auto core = coreWithDiskProbes({QStringLiteral("/"), QStringLiteral("/home"), QStringLiteral("/mnt/share")});
    for (auto _ : state)
        benchmark::DoNotOptimize(core->currentRawValues());
}
BENCHMARK(DiskProbesOneTickWithSilentShare)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8);

} // namespace

int main(int argc, char** argv)
{
    return bench::runWithCoreApplication(argc, argv);
}
