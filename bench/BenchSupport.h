#pragma once
// What the benchmarks share: the processor time of a thread or of the process, the process's peak memory, the
// median of samples, binary property lists of raw objects, the simulated portable as the computer the program
// runs on, and the main() of those that need only an application object.

#include "platform/foundation/SimulatedComputer.h"
#include "sensors/TEVSensorClassLoader.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <vector>

namespace bench {

// Microseconds of processor time on `clock` (the calling thread's by default).
inline double cpuMicroseconds(clockid_t clock = CLOCK_THREAD_CPUTIME_ID)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

// The process's peak resident memory so far, in megabytes: run one benchmark per process for it to be that
// benchmark's.
inline double peakRssMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

inline double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// A binary property list of raw objects with 1-byte references; object 0 is the top.
inline QByteArray bplist(const QList<QByteArray>& objects)
{
    QByteArray bytes("bplist00");
    QList<quint32> offsets;
    for (const QByteArray& object : objects) {
        offsets.append(quint32(bytes.size()));
        bytes += object;
    }
    const quint64 table = quint64(bytes.size());
    for (quint32 offset : offsets) {
        char be[4];
        qToBigEndian(offset, be);
        bytes.append(be, 4);
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 4;
    trailer[7] = 1;
    qToBigEndian<quint64>(quint64(objects.size()), trailer.data() + 8);
    qToBigEndian<quint64>(table, trailer.data() + 24);
    return bytes + trailer;
}

// Makes the simulated portable of fixtures/ the current computer, with the sensor classes loaded; null, or
// why it could not be loaded.
inline QString useSimulatedPortable()
{
    const auto loaded = platform::SimulatedComputer::load(QStringLiteral(KELVARO_SOURCE_DIR "/fixtures/computers/portable"));
    if (!loaded.computer)
        return loaded.error;
    platform::SimulatedComputer::setCurrent(loaded.computer);
    TEVSensorClassLoader::loadAll();
    return {};
}

// The whole main() of a benchmark that needs an application object and nothing more.
inline int runWithCoreApplication(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
