#include "platform/desktop/widgets/StatusNotifierIcon.h"

#include "platform/desktop/widgets/DBusReplies.h"
#include "platform/desktop/widgets/StatusNotifierWatch.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTimer>
#include <QtEndian>

#include <utility>

namespace platform::sni {

// The shapes of the interface's values.
struct Image {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using Images = QList<Image>;
struct ToolTip {
    QString iconName;
    Images images;
    QString title;
    QString text;
};

} // namespace platform::sni

Q_DECLARE_METATYPE(platform::sni::Image)
Q_DECLARE_METATYPE(platform::sni::ToolTip)

namespace platform::sni {

QDBusArgument& operator<<(QDBusArgument& arg, const Image& image)
{
    arg.beginStructure();
    arg << image.width << image.height << image.argb;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, Image& image)
{
    arg.beginStructure();
    arg >> image.width >> image.height >> image.argb;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& tip)
{
    arg.beginStructure();
    arg << tip.iconName << tip.images << tip.title << tip.text;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& tip)
{
    arg.beginStructure();
    arg >> tip.iconName >> tip.images >> tip.title >> tip.text;
    arg.endStructure();
    return arg;
}
} // namespace platform::sni

namespace platform {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<sni::Image>();
        qDBusRegisterMetaType<sni::Images>();
        qDBusRegisterMetaType<sni::ToolTip>();
        return true;
    }();
    (void)registered;
}

// Sizes of panels from 16 to 32 pixels; a host scales the one nearest its own.
constexpr int kIconSizes[] = {16, 22, 24, 32};

} // namespace

StatusNotifierIcon::StatusNotifierIcon(QString path, QString menuPath, PopUp popUp,
                                       Read read)
    : path_(std::move(path)),
      menuPath_(std::move(menuPath)),
      popUp_(std::move(popUp)),
      read_(std::move(read)),
      bus_(QDBusConnection::sessionBus())
{
    registerTypes();
    registered_ = bus_.isConnected() && bus_.registerVirtualObject(path_, this, QDBusConnection::SingleNode);
}

StatusNotifierIcon::~StatusNotifierIcon()
{
    unregister();
}

void StatusNotifierIcon::unregister()
{
    if (!std::exchange(registered_, false))
        return;
    // Hidden first, so that a host which keeps the item until the program ends shows nothing.
    if (active_)
        emitSignal(QStringLiteral("NewStatus"), {QStringLiteral("Passive")});
    active_ = false;
    bus_.unregisterObject(path_);
}

void StatusNotifierIcon::registerWithWatcher()
{
    if (!registered_)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
                                                       kWatcherService, QStringLiteral("RegisterStatusNotifierItem"));
    // An object path names this object on the program's own connection.
    call << path_;
    call.setAutoStartService(false);
    if (bus_.send(call))
        registeredWith_ = StatusNotifierWatch::shared().generation();
}

bool StatusNotifierIcon::isRegisteredWithWatcher() const
{
    return registeredWith_ != 0 && registeredWith_ == StatusNotifierWatch::shared().generation();
}

void StatusNotifierIcon::setOwner(QString menuPath, PopUp popUp, Read read)
{
    const bool newMenu = menuPath != menuPath_;
    menuPath_ = std::move(menuPath);
    popUp_ = std::move(popUp);
    read_ = std::move(read);
    if (newMenu)
        emitSignal(QStringLiteral("NewMenu"));
}

void StatusNotifierIcon::setIcon(const QIcon& icon)
{
    icon_ = icon;
    pixmaps_.clear();
    emitSignal(QStringLiteral("NewIcon"));
}

void StatusNotifierIcon::setToolTip(const QString& toolTip)
{
    if (toolTip == toolTip_)
        return;
    toolTip_ = toolTip;
    emitSignal(QStringLiteral("NewToolTip"));
}

void StatusNotifierIcon::setTitle(const QString& title)
{
    if (title == title_)
        return;
    title_ = title;
    emitSignal(QStringLiteral("NewTitle"));
}

void StatusNotifierIcon::setActive(bool active)
{
    if (active == active_)
        return;
    active_ = active;
    emitSignal(QStringLiteral("NewStatus"), {active ? QStringLiteral("Active") : QStringLiteral("Passive")});
}

void StatusNotifierIcon::emitSignal(const QString& name, const QVariantList& arguments)
{
    if (!registered_)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(path_, kItemInterface, name);
    signal.setArguments(arguments);
    bus_.send(signal);
}

QByteArray StatusNotifierIcon::argbBytes(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QByteArray bytes(qsizetype(argb.width()) * argb.height() * 4, Qt::Uninitialized);
    auto* out = reinterpret_cast<uchar*>(bytes.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, out += 4)
            qToBigEndian(line[x], out);
    }
    return bytes;
}

QVariant StatusNotifierIcon::property(const QString& name) const
{
    const QString application = QCoreApplication::applicationName();
    if (name == QLatin1String("Category"))
        return QStringLiteral("ApplicationStatus");
    // One id for all the program's icons: hosts keep them together.
    if (name == QLatin1String("Id"))
        return application;
    if (name == QLatin1String("Title"))
        return title_.isEmpty() ? application : title_;
    if (name == QLatin1String("Status"))
        return active_ ? QStringLiteral("Active") : QStringLiteral("Passive");
    if (name == QLatin1String("WindowId"))
        return 0;
    if (name == QLatin1String("IconName") || name == QLatin1String("OverlayIconName") ||
        name == QLatin1String("AttentionIconName") || name == QLatin1String("AttentionMovieName") ||
        name == QLatin1String("IconThemePath"))
        return QString();
    if (name == QLatin1String("IconPixmap")) {
        // Drawn once per icon, however often the hosts read it.
        if (!pixmaps_.isValid()) {
            sni::Images images;
            if (!icon_.isNull())
                for (const int size : kIconSizes) {
                    const QImage image = icon_.pixmap(QSize(size, size)).toImage();
                    if (!image.isNull())
                        images.append({image.width(), image.height(), argbBytes(image)});
                }
            pixmaps_ = QVariant::fromValue(images);
        }
        return pixmaps_;
    }
    if (name == QLatin1String("OverlayIconPixmap") || name == QLatin1String("AttentionIconPixmap"))
        return QVariant::fromValue(sni::Images());
    if (name == QLatin1String("ToolTip"))
        return QVariant::fromValue(sni::ToolTip{QString(), {}, toolTip_, QString()});
    // The host shows the menu for either button; Activate comes only from hosts without menus of their own.
    if (name == QLatin1String("ItemIsMenu"))
        return true;
    if (name == QLatin1String("Menu"))
        return QVariant::fromValue(QDBusObjectPath(menuPath_.isEmpty() ? QStringLiteral("/NO_DBUSMENU") : menuPath_));
    return {};
}

QVariantMap StatusNotifierIcon::properties() const
{
    QVariantMap all;
    for (const char* name : {"Category", "Id", "Title", "Status", "WindowId", "IconName", "IconPixmap",
                             "OverlayIconName", "OverlayIconPixmap", "AttentionIconName", "AttentionIconPixmap",
                             "AttentionMovieName", "IconThemePath", "ToolTip", "ItemIsMenu", "Menu"})
        all.insert(QLatin1String(name), property(QLatin1String(name)));
    return all;
}

QString StatusNotifierIcon::introspect(const QString&) const
{
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierItem\">"
        "<property name=\"Category\" type=\"s\" access=\"read\"/>"
        "<property name=\"Id\" type=\"s\" access=\"read\"/>"
        "<property name=\"Title\" type=\"s\" access=\"read\"/>"
        "<property name=\"Status\" type=\"s\" access=\"read\"/>"
        "<property name=\"WindowId\" type=\"i\" access=\"read\"/>"
        "<property name=\"IconName\" type=\"s\" access=\"read\"/>"
        "<property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
        "<property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>"
        "<property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
        "<property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>"
        "<property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
        "<property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>"
        "<property name=\"IconThemePath\" type=\"s\" access=\"read\"/>"
        "<property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>"
        "<property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>"
        "<property name=\"Menu\" type=\"o\" access=\"read\"/>"
        "<method name=\"ContextMenu\"><arg name=\"x\" type=\"i\" direction=\"in\"/>"
        "<arg name=\"y\" type=\"i\" direction=\"in\"/></method>"
        "<method name=\"Activate\"><arg name=\"x\" type=\"i\" direction=\"in\"/>"
        "<arg name=\"y\" type=\"i\" direction=\"in\"/></method>"
        "<method name=\"SecondaryActivate\"><arg name=\"x\" type=\"i\" direction=\"in\"/>"
        "<arg name=\"y\" type=\"i\" direction=\"in\"/></method>"
        "<method name=\"Scroll\"><arg name=\"delta\" type=\"i\" direction=\"in\"/>"
        "<arg name=\"orientation\" type=\"s\" direction=\"in\"/></method>"
        "<method name=\"ProvideXdgActivationToken\"><arg name=\"token\" type=\"s\" direction=\"in\"/></method>"
        "<signal name=\"NewTitle\"/><signal name=\"NewIcon\"/><signal name=\"NewAttentionIcon\"/>"
        "<signal name=\"NewOverlayIcon\"/><signal name=\"NewToolTip\"/>"
        "<signal name=\"NewStatus\"><arg name=\"status\" type=\"s\"/></signal>"
        "</interface>");
}

bool StatusNotifierIcon::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    const QString& member = message.member();
    const QVariantList args = message.arguments();
    if (message.interface() == dbus::kPropertiesInterface) {
        if (!args.isEmpty() && args.at(0).toString() != kItemInterface) {
            dbus::replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
                       QStringLiteral("no such interface"));
            return true;
        }
        if (member == QLatin1String("GetAll")) {
            dbus::reply(connection, message, {properties()});
        } else if (member == QLatin1String("Get") && args.size() == 2 && property(args.at(1).toString()).isValid()) {
            dbus::reply(connection, message, {QVariant::fromValue(QDBusVariant(property(args.at(1).toString())))});
        } else {
            dbus::replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                       QStringLiteral("no such property"));
            return true;
        }
        if (read_)
            read_(message.service());
        return true;
    }
    if (!message.interface().isEmpty() && message.interface() != kItemInterface)
        return false;
    if (member == QLatin1String("Activate") || member == QLatin1String("ContextMenu") ||
        member == QLatin1String("SecondaryActivate")) {
        dbus::reply(connection, message);
        if (args.size() == 2 && popUp_) {
            const QPoint at(args.at(0).toInt(), args.at(1).toInt());
            const bool context = member == QLatin1String("ContextMenu");
            // After the reply: a menu is no business of the bus's call.
            QTimer::singleShot(0, this, [this, at, context] {
                if (popUp_)
                    popUp_(at, context);
            });
        }
        return true;
    }
    if (member == QLatin1String("Scroll") || member == QLatin1String("ProvideXdgActivationToken")) {
        dbus::reply(connection, message);
        return true;
    }
    return false;
}

} // namespace platform
