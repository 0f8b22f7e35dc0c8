// Large documents inside the bounds: what reading them costs in time and peak memory. A keyed archive whose
// 100,000 objects each hold the next (refused at the unarchiver's depth, as kelvaro-dump archive reads it),
// in the binary and the XML form, and simulated computers near their size and value caps. The aim for each
// is under 1 s and 100 MB. Run one benchmark per process (--benchmark_filter=NAME) for a meaningful peak RSS;
// the counters give the document's size and the process's peak.

#include "bench/BenchSupport.h"
#include "platform/foundation/ArchiveOptions.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <benchmark/benchmark.h>


using namespace platform;

namespace {

constexpr int kChain = 100000;

// $objects: $null, then kChain NSArrays each holding the next, then the NSArray class.
QVariant chainArchive()
{
    const auto uid = [](quint64 n) { return QVariant::fromValue(PlistUid{n}); };
    QVariantList objects{values::fromString(QStringLiteral("$null"))};
    for (int k = 1; k <= kChain; ++k) {
        objects.append(values::fromDictionary({{QStringLiteral("$class"), uid(kChain + 1)},
                                               {QStringLiteral("NS.objects"),
                                                values::fromArray(k < kChain ? QVariantList{uid(quint64(k) + 1)} : QVariantList{})}}));
    }
    objects.append(values::fromDictionary(
        {{QStringLiteral("$classes"), values::fromArray({values::fromString(QStringLiteral("NSArray")), values::fromString(QStringLiteral("NSObject"))})},
         {QStringLiteral("$classname"), values::fromString(QStringLiteral("NSArray"))}}));
    return values::fromDictionary({{QStringLiteral("$archiver"), values::fromString(QStringLiteral("NSKeyedArchiver"))},
                                   {QStringLiteral("$version"), values::fromSigned(100000)},
                                   {QStringLiteral("$top"), values::fromDictionary({{QStringLiteral("root"), uid(1)}})},
                                   {QStringLiteral("$objects"), values::fromArray(objects)}});
}

// The same as XML text, written directly: libplist's writer would hold a tree of its own while the
// benchmark runs.
QByteArray chainArchiveXml()
{
    const auto uid = [](int n) { return "<dict><key>CF$UID</key><integer>" + QByteArray::number(n) + "</integer></dict>"; };
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>$archiver</key>\n"
                     "\t<string>NSKeyedArchiver</string>\n\t<key>$version</key>\n\t<integer>100000</integer>\n\t<key>$top</key>\n"
                     "\t<dict>\n\t\t<key>root</key>\n\t\t" + uid(1) + "\n\t</dict>\n\t<key>$objects</key>\n\t<array>\n"
                     "\t\t<string>$null</string>\n";
    for (int k = 1; k <= kChain; ++k)
        xml += "\t\t<dict>\n\t\t\t<key>$class</key>\n\t\t\t" + uid(kChain + 1) + "\n\t\t\t<key>NS.objects</key>\n\t\t\t<array>"
             + (k < kChain ? uid(k + 1) : QByteArray()) + "</array>\n\t\t</dict>\n";
    xml += "\t\t<dict>\n\t\t\t<key>$classes</key>\n\t\t\t<array><string>NSArray</string><string>NSObject</string></array>\n"
           "\t\t\t<key>$classname</key>\n\t\t\t<string>NSArray</string>\n\t\t</dict>\n\t</array>\n</dict>\n</plist>\n";
    return xml;
}

// As kelvaro-dump archive reads it: the generic decoding of every top key.
void DecodeDeepKeyedArchive(benchmark::State& state, PlistFormat format)
{
    const QByteArray bytes = format == PlistFormat::Xml ? chainArchiveXml() : writePropertyList(chainArchive(), format);
    for (auto _ : state) {
        UnarchiveOptions options;
        options.generic = true;
        const auto unarchiver = KeyedUnarchiver::create(bytes, options);
        if (!unarchiver || unarchiver->decodeObjectForKey(QStringLiteral("root")).isValid())
            state.SkipWithError("the archive was not refused at its depth");
    }
    state.counters["document_MB"] = double(bytes.size()) / 1048576.0;
    state.counters["peak_rss_MB"] = bench::peakRssMegabytes();
}
BENCHMARK_CAPTURE(DecodeDeepKeyedArchive, binary, PlistFormat::Binary)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(DecodeDeepKeyedArchive, xml, PlistFormat::Xml)->Unit(benchmark::kMillisecond)->Iterations(3);

// A simulated computer whose computer.plist is `bytes`, as --simulate loads it.
void LoadSimulatedComputer(benchmark::State& state, const QByteArray& bytes)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(QStringLiteral("root")));
    QFile file(dir.filePath(QStringLiteral("computer.plist")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        state.SkipWithError("cannot write the computer");
    file.close();
    for (auto _ : state) {
        const auto loaded = SimulatedComputer::load(dir.path());
        if (!loaded.computer)
            state.SkipWithError(qPrintable(loaded.error));
        benchmark::DoNotOptimize(loaded);
    }
    state.counters["document_MB"] = double(bytes.size()) / 1048576.0;
    state.counters["peak_rss_MB"] = bench::peakRssMegabytes();
}

QByteArray xmlComputerAround(const QByteArray& element)
{
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Name</key>"
                            "<string>padded</string><key>Machine</key><dict><key>Pad</key><array>";
    const QByteArray tail = "</array></dict></dict></plist>\n";
    const qsizetype count = (SimulatedComputer::kMaximumPlistBytes - head.size() - tail.size()) / element.size();
    return head + element.repeated(count) + tail;
}

// 8 MiB of the smallest values XML has, one a line: 930,000, just under the bound of values.
void LoadXmlComputerOfSmallValues(benchmark::State& state)
{
    LoadSimulatedComputer(state, xmlComputerAround("<true/>\n\t"));
}
BENCHMARK(LoadXmlComputerOfSmallValues)->Unit(benchmark::kMillisecond)->Iterations(3);

// 8 MiB of registry-like dictionaries: 21,000 entries of a class chain, a name and two properties.
void LoadXmlComputerOfEntries(benchmark::State& state)
{
    LoadSimulatedComputer(state, xmlComputerAround("<dict><key>Class</key><array><string>IOPCIDevice</string><string>IOService"
                                                   "</string></array><key>Name</key><string>pci-bridge</string><key>"
                                                   "Properties</key><dict><key>vendor-id</key><integer>32902</integer>"
                                                   "<key>model</key><string>Bridge of the padding</string></dict></dict>"));
}
BENCHMARK(LoadXmlComputerOfEntries)->Unit(benchmark::kMillisecond)->Iterations(3);

// A binary computer.plist whose one array refers to one value as often as the bound of values lets it.
void LoadBinaryComputerOfSharedReferences(benchmark::State& state)
{
    constexpr quint32 references = SimulatedComputer::kMaximumValues - 100;
    QList<QByteArray> objects = {QByteArray("\xd2\x01\x02\x03\x04", 5), QByteArray("\x54Name", 5), QByteArray("\x57Machine", 8),
                                 QByteArray("\x51x", 2), QByteArray("\xd1\x06\x07", 3), QByteArray("\x09", 1),
                                 QByteArray("\x53Pad", 4)};
    QByteArray array("\xaf\x12", 2);
    char count[4];
    qToBigEndian(references, count);
    array.append(count, 4);
    array.append(QByteArray(references, '\x05'));
    objects.append(array);
    LoadSimulatedComputer(state, bench::bplist(objects));
}
BENCHMARK(LoadBinaryComputerOfSharedReferences)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
