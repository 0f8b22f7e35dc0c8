#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/Log.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVCaptureThread.h"
#include "acquisition/TEVMonitoringClient.h"
#include "platform/foundation/NotificationCenter.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVSensorClassLoader.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>

namespace dump {

namespace {

struct Row {
    QString identifier;
    std::shared_ptr<TEVSensorDescription> description;
    std::shared_ptr<TEVSensorValueConverter> converter;
};

QList<Row> sensorRows(TEVMonitoringClient& client)
{
    QList<Row> rows;
    for (const QString& identifier : client.availableSensorIdentifiers())
        rows.append({identifier, client.sensorDescriptionForIdentifier(identifier),
                     client.sensorValueConverterForIdentifier(identifier)});
    return rows;
}

// The columns of `sensors`: identifier, quantity type, location, name, raw value, physical value.
void printTick(int tick, double elapsed, const QList<Row>& rows, TEVMonitoringClient& client)
{
    std::printf("# tick %d at %.1f s\n", tick, elapsed);
    for (const Row& row : rows) {
        const qint64 raw = client.cachedRawValueWithIdentifier(row.identifier);
        char physical[64] = "-";
        if (raw != -1 && row.converter)
            std::snprintf(physical, sizeof physical, "%.6g", row.converter->valueForRawSensorValue(raw));
        const QStringList columns{row.identifier,
                                  row.description ? QString::number(row.description->quantityType()) : QString(),
                                  row.description ? row.description->locationIdentifier() : QString(),
                                  row.description ? row.description->sensorName() : QString(), QString::number(raw),
                                  QString::fromLatin1(physical)};
        const QString line = columns.join(QLatin1Char('\t')) + QLatin1Char('\n');
        std::fputs(platform::escapeControlCharacters(line).toUtf8().constData(), stdout);
    }
    std::fflush(stdout);
}

// Stops the client and lets its capture thread end, handing its last reference back to this thread.
// The capture thread hands its last reference back to this thread as it ends. Ours is kept until the worker
// has ended and that hand-back has come, so the last reference goes here, where its destructor joins it.
void finish(std::shared_ptr<TEVMonitoringClient>& client)
{
    auto thread = client->captureThread();
    client->shutdown();
    client.reset();
    QElapsedTimer guard;
    guard.start();
    while (thread && (thread->serverThread() || thread.use_count() > 1) && guard.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    thread.reset();
    QCoreApplication::processEvents();
}

} // namespace

// watch SECONDS: a local monitoring client captures at its default interval for SECONDS; after each of its
// ticks the cached values are printed. The history file goes to the "kelvaro-dump" application folder,
// never the program's own.
int watchCommand(const QStringList& arguments)
{
    if (arguments.size() != 1)
        return 2;
    bool ok = false;
    const double seconds = arguments.first().toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > 86400)
        return 2;
    std::setlocale(LC_NUMERIC, "C");
    TEVSensorClassLoader::loadAll();
    for (const auto& probe : defaultProbes(TEVSensor::allSensors()))
        TEVArtificialSensor::addArtificialSensor(probe);

    auto client = TEVMonitoringClient::create(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("kelvaro-dump")));
    QEventLoop loop;
    bool ready = false;
    bool failed = false;
    auto& centre = platform::NotificationCenter::defaultCenter();
    const auto readyToken = centre.addObserver(TEVMonitoringClient::isReadyNotification, client, [&](const auto&) {
        ready = true;
        loop.quit();
    });
    const auto failedToken = centre.addObserver(TEVMonitoringClient::failedNotification, client, [&](const auto&) {
        failed = true;
        loop.quit();
    });
    // Its own timer, stopped once ready: left armed, it would end the watch loop below after 30 s.
    QTimer readyGuard;
    readyGuard.setSingleShot(true);
    QObject::connect(&readyGuard, &QTimer::timeout, [&] { failed = true; loop.quit(); });
    readyGuard.start(30'000);
    loop.exec();
    readyGuard.stop();
    centre.removeObserver(readyToken);
    centre.removeObserver(failedToken);
    // As the application does once it has set the probes: the rescan binds them (a power probe to its
    // voltage and current sensors).
    if (!failed && ready && !TEVArtificialSensor::allSensors().isEmpty())
        client->rescanForSensors();
    if (failed || !ready || !client->run()) {
        printError(QStringLiteral("watch: the monitoring client of this computer did not become ready"));
        finish(client);
        return 1;
    }

    QList<Row> rows = sensorRows(*client);
    const double interval = std::max(client->mainUpdateInterval(), TEVCaptureThread::minimumMainUpdateInterval);
    QElapsedTimer elapsed;
    elapsed.start();
    int tick = 0;
    printTick(++tick, 0, rows, *client);
    // Started just after the capture thread's own timer, so each print follows one of its ticks.
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (elapsed.elapsed() / 1000.0 >= seconds) {
            loop.quit();
            return;
        }
        if (client->hasDetectedConfigurationChange()) {
            client->acknowledgeConfigurationChange();
            rows = sensorRows(*client);
        }
        printTick(++tick, elapsed.elapsed() / 1000.0, rows, *client);
    });
    ticker.start(int(std::lround(interval * 1000)));
    QTimer::singleShot(int(std::lround(seconds * 1000)), &loop, &QEventLoop::quit);
    loop.exec();
    ticker.stop();
    finish(client);
    return 0;
}

} // namespace dump
