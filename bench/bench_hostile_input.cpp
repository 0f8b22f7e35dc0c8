// Decoding cost of property lists and keyed archives against their size: binary arrays of 10k to 80k
// items must cost time in proportion, and so must writing them; keyed archives whose references share their way to 16 million
// values (4000 references to an array of 4000 references) must be refused in well under 100 ms and
// 100 MB. Run one benchmark per process (--benchmark_filter) for a meaningful peak RSS.

#include "bench/BenchSupport.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <QtEndian>

#include <benchmark/benchmark.h>


using namespace platform;

namespace {

QByteArray ascii(const char* text)
{
    const QByteArray t(text);
    if (t.size() < 15)
        return char(0x50 | t.size()) + t;
    return QByteArray("\x5f\x10", 2) + char(t.size()) + t;
}

QByteArray uid(int n) { return QByteArray(1, char(0x80)) + char(n); }

// An array of references, or a dictionary of its keys' references followed by its values'.
QByteArray container(int marker, const QList<int>& refs)
{
    QByteArray object(1, char(marker | (marker == 0xD0 ? refs.size() / 2 : refs.size())));
    for (int r : refs)
        object.append(char(r));
    return object;
}

QByteArray sharedArray(int count, int ref)
{
    QByteArray object("\xaf\x11", 2);
    char be[2];
    qToBigEndian(quint16(count), be);
    object.append(be, 2);
    return object + QByteArray(count, char(ref));
}

// $objects: [$null, an NSArray whose NS.objects is a property-list array of 4000 references to one
// array of 4000 references to UID 2, "x", the NSArray class]: libplist alone would copy 16 million nodes.
QByteArray plistLevelBomb()
{
    return bench::bplist({
        container(0xD0, {1, 2, 3, 4, 5, 6, 7, 8}),            // 0: top
        ascii("$archiver"), ascii("$version"), ascii("$top"), ascii("$objects"),
        ascii("NSKeyedArchiver"), QByteArray("\x12\x00\x01\x86\xa0", 5), // 6: 100000
        container(0xD0, {9, 10}),                             // 7: $top
        container(0xA0, {11, 12, 16, 17}),                    // 8: $objects
        ascii("root"), uid(1), ascii("$null"),
        container(0xD0, {13, 15, 14, 18}),                    // 12: the outer NSArray
        ascii("NS.objects"), sharedArray(4000, 19), ascii("$class"),
        ascii("x"),
        container(0xD0, {20, 22, 21, 23}),                    // 17: class
        uid(3), sharedArray(4000, 24),
        ascii("$classname"), ascii("NSArray"), ascii("$classes"), container(0xA0, {21}),
        uid(2),
    });
}

// The same through the archive's own references: NSArray 1 holds UID 2 4000 times, NSArray 2 holds UID 3
// ("x") 4000 times. Shared objects decode once, but the value is 16 million to any walk.
QByteArray archiveLevelBomb()
{
    return bench::bplist({
        container(0xD0, {1, 2, 3, 4, 5, 6, 7, 8}),
        ascii("$archiver"), ascii("$version"), ascii("$top"), ascii("$objects"),
        ascii("NSKeyedArchiver"), QByteArray("\x12\x00\x01\x86\xa0", 5),
        container(0xD0, {9, 10}),
        container(0xA0, {11, 12, 13, 14, 15}),                // 8: $objects
        ascii("root"), uid(1), ascii("$null"),
        container(0xD0, {16, 17, 18, 19}),                    // 12: NSArray 1
        container(0xD0, {16, 17, 20, 19}),                    // 13: NSArray 2
        ascii("x"),                                           // 14
        container(0xD0, {22, 24, 23, 25}),                    // 15: class
        ascii("NS.objects"), ascii("$class"), sharedArray(4000, 26), uid(4), // 16-19
        sharedArray(4000, 21), uid(3),                                      // 20-21
        ascii("$classname"), ascii("NSArray"), ascii("$classes"), container(0xA0, {23}),
        uid(2),
    });
}

void DecodeBinaryArray(benchmark::State& state)
{
    QVariantList items;
    for (qint64 i = 0; i < state.range(0); ++i)
        items.append(i % 3 == 0 ? values::fromString(QStringLiteral("item %1").arg(i)) : values::fromSigned(i * 7919));
    const QByteArray bytes = writePropertyList(values::fromArray(items), PlistFormat::Binary);
    for (auto _ : state) {
        const PlistReadResult read = readPropertyList(bytes);
        if (read.value.toList().size() != items.size())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(read);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(DecodeBinaryArray)->Arg(10000)->Arg(20000)->Arg(40000)->Arg(80000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

// Writing too must cost time in proportion: 250k to 2M objects, as a keyed archive of a large decoded
// value holds (libplist 2.2's binary writer took the square of that).
void WriteBinaryList(benchmark::State& state)
{
    QVariantList items;
    for (qint64 i = 0; i < state.range(0) / 2; ++i)
        items.append(values::fromArray({values::fromSigned(i)}));
    const QVariant value = values::fromArray(items);
    for (auto _ : state) {
        const QByteArray bytes = writePropertyList(value, PlistFormat::Binary);
        if (bytes.isEmpty())
            state.SkipWithError("write failed");
        benchmark::DoNotOptimize(bytes);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(WriteBinaryList)->Arg(250000)->Arg(500000)->Arg(1000000)->Arg(2000000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

void RefuseSharedReferenceBomb(benchmark::State& state, QByteArray (*make)())
{
    const QByteArray archive = make();
    for (auto _ : state) {
        if (KeyedUnarchiver::unarchiveObjectWithData(archive).isValid())
            state.SkipWithError("a bomb was decoded");
    }
    state.counters["archive_bytes"] = double(archive.size());
    state.counters["peak_rss_MB"] = bench::peakRssMegabytes();
}
BENCHMARK_CAPTURE(RefuseSharedReferenceBomb, plist_references, &plistLevelBomb)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RefuseSharedReferenceBomb, archive_references, &archiveLevelBomb)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
