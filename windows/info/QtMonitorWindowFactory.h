#pragma once
// QtMonitorWindowFactory: the windows of one kind, one per monitored computer, keyed by the client's
// identification in the order the clients came. It makes a client's window when the client is added and
// closes and drops it when the client goes; computers of one name are told apart in their titles by where each
// is reached. Main thread only.

#include "app/model/ApplicationWindows.h"

#include <QPoint>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class MonitorWindowController;

class QtMonitorWindowFactory final : public MonitorWindowFactory {
public:
    using ClientPtr = std::shared_ptr<MonitoringClient>;
    // Null when the window cannot be made.
    using Maker = std::function<std::unique_ptr<MonitorWindowController>(const ClientPtr&, const QString& title)>;
    // How far each window of openAllWindows sits from the one before it.
    static constexpr QPoint kCascadeOffset{22, 22};

    // Null for a null title, or (logged) for a class that is not one of the five window kinds.
    static std::shared_ptr<QtMonitorWindowFactory> monitorWindowFactoryForClass(const QString& className, const QString& title);
    // The kinds' makers by class name; null for any other name.
    static Maker makerForClass(const QString& className);

    // `frameName` names the frame record of the kind's first window, empty for none; `slot` is its cascade
    // place without a record.
    QtMonitorWindowFactory(Maker maker, QString title, QString frameName = {}, int slot = 0);
    ~QtMonitorWindowFactory() override;

    void addMonitoringClient(const ClientPtr& client, ControllerLookups* applicationController) override;
    void removeMonitoringClient(const ClientPtr& client) override;
    bool isWindowVisible() const override;
    void updateAllWindows() override;
    void openAllWindows() override;
    void closeAllWindows() override;
    void openWindowForMonitoringClient(const ClientPtr& client) override;
    void closeWindowForMonitoringClient(const ClientPtr& client) override;

    const QString& defaultWindowTitle() const { return defaultWindowTitle_; }
    // Null for a client without a window of this kind.
    MonitorWindowController* windowControllerForClient(const ClientPtr& client) const;
    qsizetype windowControllerCount() const { return qsizetype(windowControllers_.size()); }

private:
    MonitorWindowController* controllerForKey(const QString& key) const;
    // Names every window's computer anew: a computer added or gone may make or end a name shared.
    void nameComputers();

    Maker maker_;
    QString defaultWindowTitle_;
    QString frameName_;
    int slot_ = 0;
    std::vector<std::pair<QString, std::unique_ptr<MonitorWindowController>>> windowControllers_;
};
