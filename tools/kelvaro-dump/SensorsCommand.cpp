#include "tools/kelvaro-dump/Commands.h"

#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorClassLoader.h"
#include "sensors/TEVSensorValueConverter.h"

#include <clocale>
#include <cstdio>

namespace dump {

int sensorsCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    // QCoreApplication adopts the user's locale; the listing is for scripts and keeps the C number format.
    std::setlocale(LC_NUMERIC, "C");
    TEVSensorClassLoader::loadAll();
    for (const auto& sensor : TEVSensor::allSensors()) {
        const qint64 raw = sensor->rawValue();
        char physical[64] = "-";
        if (raw != -1)
            std::snprintf(physical, sizeof physical, "%.6g", sensor->valueConverter()->valueForRawSensorValue(raw));
        // Joined, not QString::arg(): a location text may itself hold "%1".
        const QStringList columns{sensor->uniqueIdentifier(), QString::number(sensor->quantityType()),
                                  sensor->locationIdentifier(), sensor->sensorName(), QString::number(raw),
                                  QString::fromLatin1(physical)};
        const QString line = columns.join(QLatin1Char('\t')) + QLatin1Char('\n');
        std::fputs(line.toUtf8().constData(), stdout);
    }
    return 0;
}

} // namespace dump
