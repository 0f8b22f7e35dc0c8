// kelvaro-protocol-peer COMPUTER [PORT]: the loopback test peer as a process of its own, serving the simulated
// computer in the folder COMPUTER as a remote agent does, on PORT when given (a peer restarted where the
// program knows it), else on an ephemeral port. Prints "listening on PORT" once it accepts
// connections on 127.0.0.1, then one line per request it answers ("request invoke currentRawValues"), and
// serves until it is killed. For the scripts that run a program with a remote computer: they wait for a line.

#include "sensors/TEVSensorClassLoader.h"
#include "tests/support/ProtocolTestPeer.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool portGiven = argc == 3;
    const uint port = portGiven ? QByteArray(argv[2]).toUInt(&portGiven) : 0;
    if ((argc != 2 && !portGiven) || port > 65535) {
        std::fputs("usage: kelvaro-protocol-peer COMPUTER [PORT]\n", stderr);
        return 2;
    }
    // Read lazily by every backend: set before the first sensor class loads.
    qputenv("KELVARO_SIMULATED_COMPUTER", argv[1]);
    TEVSensorClassLoader::loadAll();
    kelvaro::test::ProtocolTestPeer::Options options{kelvaro::test::ProtocolTestPeer::simulatedComputerCore()};
    options.port = quint16(port);
    kelvaro::test::ProtocolTestPeer peer(options);
    if (!peer.isListening()) {
        std::fprintf(stderr, "kelvaro-protocol-peer: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    std::printf("listening on %u\n", unsigned(peer.port()));
    std::fflush(stdout);
    // The requests are recorded on the peer's thread; told from here as they come.
    qsizetype told = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        const auto requests = peer.requests();
        for (; told < requests.size(); ++told)
            std::printf("request %s %s\n", qPrintable(requests[told].command), qPrintable(requests[told].selector));
        std::fflush(stdout);
    });
    poll.start(50);
    return app.exec();
}
