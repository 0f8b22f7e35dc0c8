// Decoding cost of SMBIOS tables against their size, up to the largest table read (64 KiB): the cheapest
// structures a table can hold (6 bytes each, a name only) and short ones with decoded fields. Time must grow
// in proportion; the counter gives the decoded list's bytes per table byte, which must stay a small
// multiple. Run one benchmark per process (--benchmark_filter) for a meaningful peak RSS.

#include "bench/BenchSupport.h"
#include "sensors/TEVSMBIOSInfo.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

std::size_t allocatedBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

QByteArray structure(quint8 type, qsizetype bodySize)
{
    QByteArray bytes;
    bytes.append(char(type)).append(char(4 + bodySize)).append("\x34\x12", 2);
    bytes.append(QByteArray(bodySize, '\x01'));
    return bytes.append(2, '\0');
}

QByteArray table(qsizetype size, bool withFields)
{
    // Type 5 has no decoder; a type 19 of length 0x1F decodes five numbers.
    const QByteArray unit = withFields ? structure(19, 0x1B) : structure(5, 0);
    return unit.repeated(size / unit.size());
}

void DecodeTable(benchmark::State& state, bool withFields)
{
    const QByteArray bytes = table(state.range(0), withFields);
    double heldBytes = 0;
    for (auto _ : state) {
        const std::size_t before = allocatedBytes();
        const auto info = TEVSMBIOSInfo::createWithData(bytes);
        if (!info || info->systemManagementStructures().isEmpty())
            state.SkipWithError("not decoded");
        heldBytes = double(allocatedBytes()) - double(before);
        benchmark::DoNotOptimize(info);
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.counters["held_per_table_byte"] = heldBytes / double(bytes.size());
    state.counters["peak_rss_MB"] = bench::peakRssMegabytes();
}
BENCHMARK_CAPTURE(DecodeTable, names_only, false)->RangeMultiplier(2)->Range(8 << 10, 64 << 10)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeTable, with_fields, true)->RangeMultiplier(2)->Range(8 << 10, 64 << 10)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
