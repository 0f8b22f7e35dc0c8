#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/Log.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorClassLoader.h"
#include "sensors/TEVSensorValueConverter.h"

#include <QFile>
#include <QThread>

#include <clocale>
#include <cstdio>

namespace dump {

// sensors [--probes FILE] [--wait SECONDS]: the probes are one of each kind on its first source, or those
// of FILE (an array of probe dictionaries as stored under "LocalProbes"); --wait lets the samplers take
// their next samples before the values are read.
int sensorsCommand(const QStringList& arguments)
{
    QString probesFile;
    double wait = 0;
    for (qsizetype i = 0; i < arguments.size(); i += 2) {
        if (i + 1 >= arguments.size())
            return 2;
        bool ok = true;
        if (arguments[i] == QLatin1String("--probes"))
            probesFile = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--wait"))
            wait = arguments[i + 1].toDouble(&ok);
        else
            return 2;
        if (!ok || wait < 0 || wait > 3600)
            return 2;
    }
    // QCoreApplication adopts the user's locale; the listing is for scripts and keeps the C number format.
    std::setlocale(LC_NUMERIC, "C");
    TEVSensorClassLoader::loadAll();
    if (!probesFile.isEmpty()) {
        QFile file(probesFile);
        const auto parsed = file.open(QIODevice::ReadOnly) ? platform::readPropertyList(file.readAll()) : platform::PlistReadResult{};
        const auto array = platform::values::toArray(parsed.value);
        if (!array) {
            printError(QStringLiteral("%1: not a property-list array of probe dictionaries").arg(probesFile));
            return 1;
        }
        TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(array);
    } else {
        for (const auto& probe : defaultProbes(TEVSensor::allSensors()))
            TEVArtificialSensor::addArtificialSensor(probe);
    }
    // As the acquisition core does after a rescan: power probes find their sensors in the full list.
    TEVSensorList sensors = TEVSensor::allSensors();
    for (const auto& probe : TEVArtificialSensor::allArtificialSensors())
        probe->resolveObjectDependenciesUsingSensorList(&sensors);
    if (wait > 0)
        QThread::usleep(static_cast<unsigned long>(wait * 1e6));
    for (const auto& sensor : sensors) {
        const qint64 raw = sensor->rawValue();
        char physical[64] = "-";
        if (raw != -1)
            std::snprintf(physical, sizeof physical, "%.6g", sensor->valueConverter()->valueForRawSensorValue(raw));
        // Joined, not QString::arg(): a location text may itself hold "%1".
        const QStringList columns{sensor->uniqueIdentifier(), QString::number(sensor->quantityType()),
                                  sensor->locationIdentifier(), sensor->sensorName(), QString::number(raw),
                                  QString::fromLatin1(physical)};
        const QString line = columns.join(QLatin1Char('\t')) + QLatin1Char('\n');
        std::fputs(platform::escapeControlCharacters(line).toUtf8().constData(), stdout);
    }
    return 0;
}

} // namespace dump
