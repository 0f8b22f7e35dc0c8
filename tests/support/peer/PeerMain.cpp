// kelvaro-test-peer: the protocol test peer as a process of its own, serving the simulated computer named by
// KELVARO_SIMULATED_COMPUTER, so that scripts can stop it (kill -STOP) as a remote computer falls silent.
// Prints "listening on PORT", then one line per request it reads: its command word, or "invoke SELECTOR".

#include "sensors/TEVSensorClassLoader.h"
#include "tests/support/ProtocolTestPeer.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariable("KELVARO_SIMULATED_COMPUTER").isEmpty()) {
        std::fprintf(stderr, "kelvaro-test-peer: KELVARO_SIMULATED_COMPUTER names no computer\n");
        return 2;
    }
    TEVSensorClassLoader::loadAll();
    kelvaro::test::ProtocolTestPeer peer(kelvaro::test::PeerOptions{kelvaro::test::ProtocolTestPeer::simulatedComputerCore()});
    if (!peer.isListening()) {
        std::fprintf(stderr, "kelvaro-test-peer: cannot listen\n");
        return 1;
    }
    std::printf("listening on %u\n", unsigned(peer.port()));
    std::fflush(stdout);
    qsizetype told = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const auto requests = peer.requests();
        for (; told < requests.size(); ++told) {
            const auto& request = requests.at(told);
            const QString line = request.command == QLatin1String("invoke") ? QStringLiteral("invoke ") + request.selector
                                                                              : request.command;
            std::printf("%s\n", line.toUtf8().constData());
        }
        std::fflush(stdout);
    });
    poll.start(50);
    return app.exec();
}
