#include "sensors/TEVSensorClassLoader.h"

#include "sensors/TEVSMCElectricSensor.h"
#include "sensors/TEVSMCFanSensor.h"
#include "sensors/TEVSMCLightSensor.h"
#include "sensors/TEVSMCTemperatureSensor.h"

void TEVSensorClassLoader::loadAll()
{
    // Explicit calls rather than static registrars: an object file of a static library that nothing
    // references is never linked, and its registrar would silently never run.
    static const bool loaded = [] {
        // TEVSMARTTemperatureSensor, TEVBatterySensor, TEVArtificialSensor, TEVCaseLockSensor come first.
        TEVSMCFanSensor::load();
        TEVSMCTemperatureSensor::load();
        TEVSMCElectricSensor::load();
        TEVSMCLightSensor::load();
        // TEVSmartBatteryTemperatureSensor comes last.
        return true;
    }();
    (void)loaded;
}
