#pragma once
// One icon of the tray of StatusNotifierItem hosts: an object on the session bus whose pixels, tooltip and menu
// the host reads whenever it likes, registered with org.kde.StatusNotifierWatcher. Nothing here waits on the
// bus: a host that stops answering holds no call. Main thread.

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QIcon>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QVariant>

#include <functional>

class QDBusMessage;

namespace platform {

// One icon of the tray. Its status (Active or Passive) shows or hides it; the host reads the pixels, drawn at
// the sizes hosts ask most, whenever it likes.
class StatusNotifierIcon final : public QDBusVirtualObject {
public:
    // popUp shows the program's own menu at the point a host without a menu of its own passes, with whether it
    // asked for the context menu (else the icon was activated); read tells each time anyone reads the icon.
    using PopUp = std::function<void(QPoint, bool)>;
    // With the bus name of the reader.
    using Read = std::function<void(const QString&)>;
    StatusNotifierIcon(QString path, QString menuPath, PopUp popUp, Read read);
    ~StatusNotifierIcon() override;

    QString path() const { return path_; }
    QString menuPath() const { return menuPath_; }
    // Hands the icon to another owner, as a kept icon is used again.
    void setOwner(QString menuPath, PopUp popUp, Read read);
    void setIcon(const QIcon& icon);
    QIcon icon() const { return icon_; }
    void setToolTip(const QString& toolTip);
    // The name hosts list it by; the application's until set.
    void setTitle(const QString& title);
    void setActive(bool active);
    bool isActive() const { return active_; }
    // Asks the watcher to show it to its hosts; the answer is not waited for.
    void registerWithWatcher();
    // Registered with the watcher that runs now.
    bool isRegisteredWithWatcher() const;
    void unregister();

    // The pixels hosts read at a size: ARGB32 in network byte order.
    static QByteArray argbBytes(const QImage& image);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QVariant property(const QString& name) const;
    QVariantMap properties() const;
    void emitSignal(const QString& name, const QVariantList& arguments = {});

    QString path_;
    QString menuPath_;
    PopUp popUp_;
    Read read_;
    QDBusConnection bus_;
    bool registered_ = false;
    // The watcher's generation it was registered with (StatusNotifierWatch::generation), 0 for none.
    quint64 registeredWith_ = 0;
    QIcon icon_;
    // IconPixmap of icon_, drawn on the first read.
    mutable QVariant pixmaps_;
    QString toolTip_;
    QString title_;
    bool active_ = false;
};

} // namespace platform
