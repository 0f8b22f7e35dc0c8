#include "sensors/TEVSensorClassLoader.h"

#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVBatterySensor.h"
#include "sensors/TEVCaseLockSensor.h"
#include "sensors/TEVSMARTTemperatureSensor.h"
#include "sensors/TEVSMCElectricSensor.h"
#include "sensors/TEVSMCFanSensor.h"
#include "sensors/TEVSMCLightSensor.h"
#include "sensors/TEVSMCTemperatureSensor.h"
#include "sensors/TEVSmartBatteryTemperatureSensor.h"

void TEVSensorClassLoader::loadAll()
{
    // Explicit calls rather than static registrars: an object file of a static library that nothing
    // references is never linked, and its registrar would silently never run.
    static const bool loaded = [] {
        TEVSMARTTemperatureSensor::load();
        TEVBatterySensor::load();
        TEVArtificialSensor::load();
        TEVCaseLockSensor::load();
        TEVSMCFanSensor::load();
        TEVSMCTemperatureSensor::load();
        TEVSMCElectricSensor::load();
        TEVSMCLightSensor::load();
        TEVSmartBatteryTemperatureSensor::load();
        return true;
    }();
    (void)loaded;
}
