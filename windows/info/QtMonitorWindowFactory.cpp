#include "windows/info/QtMonitorWindowFactory.h"

#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVMonitoringClient.h"
#include "app/model/ComputerNames.h"
#include "platform/foundation/Log.h"
#include "windows/WindowFrameRecord.h"
#include "windows/WindowPlacement.h"
#include "windows/info/DisplayInfoDisplay.h"
#include "windows/info/DriveOverview.h"
#include "windows/info/MonitorWindowController.h"
#include "windows/info/SensorOverview.h"
#include "windows/info/SmartBatteryInfoDisplay.h"
#include "windows/info/SystemInfoDisplay.h"

#include <QHash>
#include <QWidget>

namespace {

const char* const kClassName = "MonitorWindowFactory";

template <typename Window>
QtMonitorWindowFactory::Maker makerOf()
{
    return [](const QtMonitorWindowFactory::ClientPtr& client, const QString& title) -> std::unique_ptr<MonitorWindowController> {
        return std::make_unique<Window>(client, title);
    };
}

} // namespace

QtMonitorWindowFactory::Maker QtMonitorWindowFactory::makerForClass(const QString& className)
{
    if (className == QLatin1String("SensorOverview"))
        return makerOf<SensorOverview>();
    if (className == QLatin1String("SystemInfoDisplay"))
        return makerOf<SystemInfoDisplay>();
    if (className == QLatin1String("DriveOverview"))
        return makerOf<DriveOverview>();
    if (className == QLatin1String("SmartBatteryInfoDisplay"))
        return makerOf<SmartBatteryInfoDisplay>();
    if (className == QLatin1String("DisplayInfoDisplay"))
        return makerOf<DisplayInfoDisplay>();
    return {};
}

std::shared_ptr<QtMonitorWindowFactory> QtMonitorWindowFactory::monitorWindowFactoryForClass(const QString& className,
                                                                                          const QString& title)
{
    if (title.isNull())
        return nullptr;
    Maker maker = makerForClass(className);
    if (!maker) {
        platform::log(kClassName, QStringLiteral("class %1 is not a monitor window class").arg(className));
        return nullptr;
    }
    static const QHash<QString, int> cascadeSlots = {{QStringLiteral("SensorOverview"), WindowPlacement::OverviewSlot},
                                              {QStringLiteral("SystemInfoDisplay"), WindowPlacement::SystemInfoSlot},
                                              {QStringLiteral("DriveOverview"), WindowPlacement::DrivesSlot},
                                              {QStringLiteral("SmartBatteryInfoDisplay"), WindowPlacement::BatteriesSlot},
                                              {QStringLiteral("DisplayInfoDisplay"), WindowPlacement::DisplaysSlot}};
    return std::make_shared<QtMonitorWindowFactory>(std::move(maker), title, className, cascadeSlots.value(className));
}

QtMonitorWindowFactory::QtMonitorWindowFactory(Maker maker, QString title, QString frameName, int slot)
    : maker_(std::move(maker))
    , defaultWindowTitle_(std::move(title))
    , frameName_(std::move(frameName))
    , slot_(slot)
{
    windowControllers_.reserve(2);
}

QtMonitorWindowFactory::~QtMonitorWindowFactory() = default;

MonitorWindowController* QtMonitorWindowFactory::controllerForKey(const QString& key) const
{
    for (const auto& [identification, controller] : windowControllers_)
        if (identification == key)
            return controller.get();
    return nullptr;
}

MonitorWindowController* QtMonitorWindowFactory::windowControllerForClient(const ClientPtr& client) const
{
    return client ? controllerForKey(client->clientIdentification()) : nullptr;
}

void QtMonitorWindowFactory::addMonitoringClient(const ClientPtr& client, ControllerLookups* applicationController)
{
    if (!client)
        return;
    const QString key = client->clientIdentification();
    if (controllerForKey(key)) {
        platform::log(kClassName, QStringLiteral("received request to add client which is already registered. Ignoring..."));
        return;
    }
    auto controller = maker_ && !defaultWindowTitle_.isNull() ? maker_(client, defaultWindowTitle_) : nullptr;
    if (!controller)
        return;
    controller->setApplicationController(applicationController);
    // The first computer's window keeps its place across launches; the others cascade from the one before.
    // Placed when the window is made, which for most is never.
    const bool first = windowControllers_.empty();
    controller->whenWindowMade([this, first, made = controller.get()](QWidget* window) {
        if (first) {
            if (!frameName_.isEmpty())
                WindowFrameRecord::attach(window, frameName_, WindowPlacement::cascadeTopLeft(slot_, WindowPlacement::currentScreens()));
            return;
        }
        const MonitorWindowController* previous = nullptr;
        for (const auto& entry : windowControllers_) {
            if (entry.second.get() == made)
                break;
            previous = entry.second.get();
        }
        if (previous && previous->window())
            window->move(previous->window()->pos() + kCascadeOffset);
    });
    windowControllers_.emplace_back(key, std::move(controller));
    nameComputers();
}

void QtMonitorWindowFactory::nameComputers()
{
    QList<computernames::Computer> computers;
    for (const auto& [identification, controller] : windowControllers_) {
        const auto& client = controller->monitorClient();
        computers.append({client->machineName(), computernames::placeOf(client->connectionInfo().get()),
                          TEVMonitoringClient::serialNumberFromClientIdentifier(identification)});
    }
    const QStringList names = computernames::distinctNames(computers);
    for (size_t i = 0; i < windowControllers_.size(); ++i)
        windowControllers_[i].second->setComputerName(names[qsizetype(i)]);
}

void QtMonitorWindowFactory::removeMonitoringClient(const ClientPtr& client)
{
    if (!client)
        return;
    // By client, not by identification: a refused second client of a computer (or a remote computer that
    // turns out to be this one) must leave the windows of the monitored one open.
    for (auto it = windowControllers_.begin(); it != windowControllers_.end(); ++it) {
        if (it->second->monitorClient() != client)
            continue;
        auto controller = std::move(it->second);
        windowControllers_.erase(it);
        controller->closeWindow();
        nameComputers();
        return;
    }
}

bool QtMonitorWindowFactory::isWindowVisible() const
{
    for (const auto& entry : windowControllers_)
        if (entry.second->madeWindow() && entry.second->madeWindow()->isVisible())
            return true;
    return false;
}

void QtMonitorWindowFactory::updateAllWindows()
{
    // A hidden window is filled when it opens.
    for (const auto& entry : windowControllers_)
        if (entry.second->madeWindow() && entry.second->madeWindow()->isVisible())
            entry.second->updateContents();
}

void QtMonitorWindowFactory::openAllWindows()
{
    QWidget* previous = nullptr;
    for (const auto& entry : windowControllers_) {
        QWidget* window = entry.second->window();
        if (window && previous)
            window->move(previous->pos() + kCascadeOffset);
        entry.second->openWindow();
        if (window)
            previous = window;
    }
}

void QtMonitorWindowFactory::closeAllWindows()
{
    for (const auto& entry : windowControllers_)
        entry.second->closeWindow();
}

void QtMonitorWindowFactory::openWindowForMonitoringClient(const ClientPtr& client)
{
    if (auto* controller = windowControllerForClient(client))
        controller->openWindow();
}

void QtMonitorWindowFactory::closeWindowForMonitoringClient(const ClientPtr& client)
{
    if (auto* controller = windowControllerForClient(client))
        controller->closeWindow();
}
