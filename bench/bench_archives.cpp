// Archive throughput: keyed encode/decode of one long-term history and of a preference-like dictionary, and
// the sequential history file (200 histories of 10080 slots), the target being well under 50 ms each way.

#include "acquisition/TEVSensorHistory.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace platform;

namespace {

std::shared_ptr<TEVSensorHistory> longTermHistory(int seed)
{
    auto h = TEVSensorHistory::create(10080, 60.0);
    // Fill without a clock: discarding advances the ring, then every slot is overwritten in place.
    for (int i = 0; i < 10080; ++i)
        h->setPresentRawValue((seed * 7919 + i * 31) % 6553600);
    return h;
}

QVariantMap preferenceDictionary()
{
    QVariantMap map;
    for (int i = 0; i < 200; ++i) {
        const QString key = QStringLiteral("Key%1").arg(i);
        switch (i % 4) {
        case 0: map.insert(key, values::fromString(QStringLiteral("value number %1").arg(i))); break;
        case 1: map.insert(key, values::fromSigned(i * 1000)); break;
        case 2: map.insert(key, values::fromReal(i / 3.0)); break;
        default:
            map.insert(key, values::fromDictionary({{"Name", values::fromString(QStringLiteral("n%1").arg(i))},
                                {"Enabled", values::fromBool(i % 2 == 0)},
                                {"Low", values::fromReal(10.5)}}));
        }
    }
    return map;
}

QVariantMap historyFile()
{
    QVariantMap sensors;
    for (int i = 0; i < 200; ++i)
        sensors.insert(QStringLiteral("SMC.T%1").arg(i, 3, 10, QLatin1Char('0')), values::fromObject(longTermHistory(i)));
    return {{"C02ABCDEFGH", values::fromDictionary(sensors)}};
}

UnarchiveOptions historyOptions()
{
    UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("TEVSensorHistory")};
    return options;
}

void KeyedEncodeHistory(benchmark::State& state)
{
    const QVariant h = values::fromObject(longTermHistory(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(KeyedArchiver::archivedDataWithRootObject(h));
}
BENCHMARK(KeyedEncodeHistory)->Unit(benchmark::kMillisecond);

void KeyedDecodeHistory(benchmark::State& state)
{
    const QByteArray data = KeyedArchiver::archivedDataWithRootObject(values::fromObject(longTermHistory(1)));
    const UnarchiveOptions options = historyOptions();
    for (auto _ : state)
        if (!KeyedUnarchiver::unarchiveObjectWithData(data, options).isValid())
            state.SkipWithError("decode failed");
}
BENCHMARK(KeyedDecodeHistory)->Unit(benchmark::kMillisecond);

void KeyedEncodeDictionary(benchmark::State& state)
{
    const QVariant map = preferenceDictionary();
    for (auto _ : state)
        benchmark::DoNotOptimize(KeyedArchiver::archivedDataWithRootObject(map));
}
BENCHMARK(KeyedEncodeDictionary)->Unit(benchmark::kMillisecond);

void KeyedDecodeDictionary(benchmark::State& state)
{
    const QByteArray data = KeyedArchiver::archivedDataWithRootObject(preferenceDictionary());
    for (auto _ : state)
        if (!KeyedUnarchiver::unarchiveObjectWithData(data, {}).isValid())
            state.SkipWithError("decode failed");
}
BENCHMARK(KeyedDecodeDictionary)->Unit(benchmark::kMillisecond);

void SequentialEncodeHistoryFile(benchmark::State& state)
{
    const QVariant file = historyFile();
    for (auto _ : state)
        benchmark::DoNotOptimize(SequentialArchiver::archivedDataWithRootObject(file));
}
BENCHMARK(SequentialEncodeHistoryFile)->Unit(benchmark::kMillisecond);

void SequentialDecodeHistoryFile(benchmark::State& state)
{
    const QByteArray data = SequentialArchiver::archivedDataWithRootObject(historyFile());
    const UnarchiveOptions options = historyOptions();
    state.counters["bytes"] = double(data.size());
    for (auto _ : state)
        if (!SequentialUnarchiver::unarchiveObjectWithData(data, options).isValid())
            state.SkipWithError("decode failed");
}
BENCHMARK(SequentialDecodeHistoryFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
