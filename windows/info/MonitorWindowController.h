#pragma once
// MonitorWindowController: one window that shows one aspect of one monitored computer. Its title is the
// kind's title and the computer's name (as its factory tells it apart from the other computers of that name);
// subclasses fill the window from the client in updateContents. A subclass may give a maker instead of its
// window: the window is then made when first asked for, and whatever was set meanwhile (title, placement) is
// given to it then. Main thread only.

#include <QString>

#include <functional>
#include <memory>

class ControllerLookups;
class MonitoringClient;
class QWidget;

class MonitorWindowController {
public:
    using ClientPtr = std::shared_ptr<MonitoringClient>;

    // Both are required; the factory makes none without them.
    MonitorWindowController(ClientPtr client, QString defaultTitle);
    virtual ~MonitorWindowController();
    MonitorWindowController(const MonitorWindowController&) = delete;
    MonitorWindowController& operator=(const MonitorWindowController&) = delete;

    // Only the kinds that read gauges keep it.
    virtual void setApplicationController(ControllerLookups*) {}

    // Refreshes, then brings the window to the front.
    void openWindow();
    // As if the user had closed it: the controller stays and can open it again.
    void closeWindow();
    // Made now if it is not yet.
    QWidget* window() const;
    // Null until made: what looks at the window without needing it.
    QWidget* madeWindow() const { return window_.get(); }
    // Run on the window as it is made, or at once if it is.
    void whenWindowMade(std::function<void(QWidget*)> action);
    // Sets the title; every override calls this first.
    virtual void updateContents();
    // The computer as the title names it; until set, its own name.
    void setComputerName(const QString& name);

    const ClientPtr& monitorClient() const { return monitorClient_; }
    const QString& defaultWindowTitle() const { return defaultWindowTitle_; }

protected:
    // The subclass's window, made in its constructor.
    void setWindow(std::unique_ptr<QWidget> window);
    void setWindowMaker(std::function<std::unique_ptr<QWidget>()> maker) { maker_ = std::move(maker); }

private:
    void showTitle();

    ClientPtr monitorClient_;
    QString defaultWindowTitle_;
    QString computerName_;
    std::function<std::unique_ptr<QWidget>()> maker_;
    std::function<void(QWidget*)> whenMade_;
    std::unique_ptr<QWidget> window_;
};

namespace infowindows {
// The text of `key` in the main bundle's default string table, else the key.
QString localized(const QString& key);
// Fills each "%@" of a localized format in turn.
QString withObjects(const QString& format, const QStringList& objects);
} // namespace infowindows
