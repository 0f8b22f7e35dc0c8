// kelvaro-protocol-peer COMPUTER [PORT [MODE]]: the loopback test peer as a process of its own, serving the
// simulated computer in the folder COMPUTER as a remote agent does, at PORT unless it is 0 (a peer restarted
// where it was), else at an ephemeral port. MODE "trickle-hello" sends the greeting of its first connection a
// byte a second, longer than a minute in all; "no-description" describes no computer, "no-serial-number" one
// without a serial number, and "sleeps-at-once" says it sleeps before it describes its computer. Prints
// "listening on PORT" once it accepts
// connections on 127.0.0.1, then one line per request it answers ("request invoke currentRawValues"), and
// serves until it is killed. For the scripts that run a program with a remote computer: they wait for a line.

#include "sensors/TEVSensorClassLoader.h"
#include "tests/support/ProtocolTestPeer.h"

#include <QCoreApplication>
#include <QHash>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool portIsNumber = true;
    const quint16 port = argc >= 3 ? QByteArray(argv[2]).toUShort(&portIsNumber) : 0;
    const QByteArray mode = argc == 4 ? QByteArray(argv[3]) : QByteArray();
    const bool trickleHello = mode == "trickle-hello";
    const QHash<QByteArray, kelvaro::test::PeerIdentity> identities = {
        {"no-description", kelvaro::test::PeerIdentity::None},
        {"no-serial-number", kelvaro::test::PeerIdentity::NoSerialNumber},
        {"sleeps-at-once", kelvaro::test::PeerIdentity::SleepsFirst}};
    if (argc < 2 || argc > 4 || !portIsNumber || (argc == 4 && !trickleHello && !identities.contains(mode))) {
        std::fputs("usage: kelvaro-protocol-peer COMPUTER [PORT [trickle-hello|no-description|no-serial-number|"
                   "sleeps-at-once]]\n",
                   stderr);
        return 2;
    }
    // Read lazily by every backend: set before the first sensor class loads.
    qputenv("KELVARO_SIMULATED_COMPUTER", argv[1]);
    TEVSensorClassLoader::loadAll();
    kelvaro::test::ProtocolTestPeer::Options options;
    options.makeCentre = kelvaro::test::ProtocolTestPeer::simulatedComputerCore();
    options.port = port;
    if (trickleHello)
        options.version += " (greeting a byte a second)" + QByteArray(40, '.');
    kelvaro::test::ProtocolTestPeer peer(std::move(options));
    if (!peer.isListening()) {
        std::fputs("kelvaro-protocol-peer: cannot listen on 127.0.0.1\n", stderr);
        return 1;
    }
    if (trickleHello) {
        kelvaro::test::PeerReply trickled;
        trickled.trickle = true;
        trickled.trickleGap = std::chrono::seconds(1);
        peer.script(trickled, QStringLiteral("hello"));
    }
    if (identities.contains(mode))
        peer.identifyAs(identities.value(mode));
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
