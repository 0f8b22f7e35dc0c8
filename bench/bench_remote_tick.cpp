// One full tick of a capture thread whose centre is remote: the "currentRawValues" call of 100 sensors
// over loopback to the test peer, its keyed archive decoded, and 100 values stored into the short-term
// histories and the cache. Measured from the main thread, which hands the tick to the capture thread.

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVCaptureThread.h"
#include "bench/BenchSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Values.h"
#include "tests/support/ProtocolTestPeer.h"

#include <QCoreApplication>
#include <QThread>

#include <benchmark/benchmark.h>

#include <future>

namespace values = platform::values;

namespace {

constexpr int kSensors = 100;

struct QuietClient final : TEVCaptureThreadClient {
    void registerThreadedServer(const std::shared_ptr<TEVThreadedServer>&) override {}
    void deregisterThreadedServer(const std::shared_ptr<TEVThreadedServer>&) override {}
    void captureThreadHasBecomeReadyUsingSerialNumber(const QString&) override {}
    void captureThreadHasLostConnectionToAcqusitionCenter(const std::shared_ptr<TEVCaptureThread>&) override {}
    void captureThreadDidDetectSleepMode(const std::shared_ptr<TEVCaptureThread>&) override {}
    void captureThreadDidHandOverRawValues() override {}
};

// Runs `work` on the capture thread and blocks until it has run.
template <class Work>
auto onCaptureThread(TEVCaptureThread& thread, Work work)
{
    std::promise<decltype(work())> promise;
    auto future = promise.get_future();
    thread.runLoop()->perform([&] { promise.set_value(work()); });
    return future.get();
}

void remoteTickOfOneHundredSensors(benchmark::State& state)
{
    QVariantMap readings;
    for (int s = 0; s < kSensors; ++s)
        readings.insert(QStringLiteral("smc.T%1").arg(s, 3, 10, QLatin1Char('0')), values::fromSigned(40000 + s));
    kelvaro::test::ProtocolTestPeer peer;
    peer.answerSelector(QStringLiteral("currentRawValues"), readings);
    peer.answerSelector(QStringLiteral("numberOfAvailableSensors"), values::fromUnsigned(kSensors));

    const auto client = std::make_shared<QuietClient>();
    const auto thread = TEVCaptureThread::create(client);
    thread->run();
    while (!thread->runLoop())
        QThread::yieldCurrentThread();
    const auto info = MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("127.0.0.1"), peer.port());
    const bool connected = onCaptureThread(*thread, [&] {
        const bool yes = thread->connectToRemoteAcquisitionCenterUsingInfo(info);
        thread->setMainUpdateInterval(3600); // no timer tick between the measured ones
        thread->startCapturing();
        return yes;
    });
    if (!connected || thread->rawValueCache().size() != kSensors) {
        state.SkipWithError("no remote centre");
    } else {
        for (auto _ : state)
            onCaptureThread(*thread, [&] {
                thread->updateAllReadings();
                return true;
            });
        state.counters["sensors"] = double(thread->rawValueCache().size());
    }
    onCaptureThread(*thread, [&] {
        thread->stopCapturing();
        return true;
    });
    thread->stop();
    while (thread->serverThread())
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}
BENCHMARK(remoteTickOfOneHundredSensors)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return bench::runWithCoreApplication(argc, argv);
}
