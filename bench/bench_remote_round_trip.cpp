// One remote call on loopback, request out and reply back, against the test peer serving the simulated
// portable: a meta request ("ping"), an invocation with a number result (numberOfAvailableSensors) and one
// with the whole keyed set of raw values (currentRawValues). Each call is timed on its own; the median
// (target: under 300 µs for a call) is the counter "median_us".

#include "acquisition/TEVRemoteKelvaroClient.h"
#include "bench/BenchSupport.h"
#include "platform/foundation/SimulatedComputer.h"
#include "tests/support/ProtocolTestPeer.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

template <typename Call>
void roundTrip(benchmark::State& state, Call call)
{
    if (const QString failure = bench::useSimulatedPortable(); !failure.isNull()) {
        state.SkipWithError(qPrintable(failure));
        return;
    }
    {
        kelvaro::test::ProtocolTestPeer peer(kelvaro::test::PeerOptions{kelvaro::test::ProtocolTestPeer::simulatedComputerCore()});
        auto client = TEVRemoteKelvaroClient::createWithHostSpecifier(QStringLiteral("127.0.0.1"), peer.port());
        if (!peer.isListening() || !client || !client->checkConnectivityWithTimeout(1.0)) {
            state.SkipWithError("no connection to the peer");
        } else {
            std::vector<double> micros;
            micros.reserve(100000);
            for (auto _ : state) {
                const auto start = std::chrono::steady_clock::now();
                if (!call(*client))
                    state.SkipWithError("call failed");
                const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                state.SetIterationTime(took.count());
                micros.push_back(took.count() * 1e6);
            }
            if (!micros.empty()) {
                std::nth_element(micros.begin(), micros.begin() + qsizetype(micros.size() / 2), micros.end());
                state.counters["median_us"] = micros[micros.size() / 2];
            }
        }
        client.reset();
    }
    platform::SimulatedComputer::setCurrent(nullptr);
}

void remotePing(benchmark::State& state)
{
    roundTrip(state, [](TEVRemoteKelvaroClient& client) { return !client.pingResponse().isNull(); });
}

void remoteNumberOfAvailableSensors(benchmark::State& state)
{
    roundTrip(state, [](TEVRemoteKelvaroClient& client) { return client.numberOfAvailableSensors() > 0; });
}

void remoteCurrentRawValues(benchmark::State& state)
{
    roundTrip(state, [](TEVRemoteKelvaroClient& client) { return !client.currentRawValues().isEmpty(); });
}

} // namespace

BENCHMARK(remotePing)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(remoteNumberOfAvailableSensors)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(remoteCurrentRawValues)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The client waits in the main thread's event loop, so the benchmark needs an application object.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
