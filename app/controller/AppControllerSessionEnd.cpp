// The end of the process without a quit: the X server went away (a logout), and the display plugin ends the
// process from under the event loop.

#include "app/controller/AppController.h"

#include "acquisition/MonitoringClient.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "platform/foundation/Log.h"
#include "sensors/TEVArtificialSensor.h"

void AppController::saveForLostDisplay()
{
    // The window flags stay as stored: the windows were not closed by the user.
    for (const auto& history : std::as_const(historyWindowControllers_))
        history->syncWindowStateToPreferences();
    if (localPreferences_) {
        localPreferences_->setProbeDescriptions(TEVArtificialSensor::preferenceDictionariesForAllSensors());
        if (localLCDManager_)
            localPreferences_->setLCDModuleDescriptions(localLCDManager_->lcdModulePreferences());
    }
    monitorPreferences_->writePreferencesUsingMonitoringClients(monitorClients_, localClient_);
    if (!localClient_ || !localClient_->saveLongTermHistoryBuffers())
        platform::log(QStringLiteral("WARNING: local client could not save long-term history buffers to persistent storage!\n"));
}
