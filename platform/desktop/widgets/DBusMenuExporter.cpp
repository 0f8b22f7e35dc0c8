#include "platform/desktop/widgets/DBusMenuExporter.h"

#include "platform/desktop/widgets/DBusReplies.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMenu>
#include <QTimer>

#include <functional>
#include <utility>

namespace platform::sni {

// The shapes of the interface's values.
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};
struct MenuProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuPropertiesList = QList<MenuProperties>;
struct MenuKeys {
    int id = 0;
    QStringList keys;
};
using MenuKeysList = QList<MenuKeys>;
struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEvents = QList<MenuEvent>;

} // namespace platform::sni

Q_DECLARE_METATYPE(platform::sni::MenuLayout)
Q_DECLARE_METATYPE(platform::sni::MenuProperties)
Q_DECLARE_METATYPE(platform::sni::MenuKeys)
Q_DECLARE_METATYPE(platform::sni::MenuEvent)

namespace platform::sni {

// A node's children travel as variants, each holding a node.
QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayout& node)
{
    arg.beginStructure();
    arg << node.id << node.properties;
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const MenuLayout& child : node.children)
        arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayout& node)
{
    arg.beginStructure();
    arg >> node.id >> node.properties;
    node.children.clear();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        MenuLayout childNode;
        if (child.variant().canConvert<QDBusArgument>())
            child.variant().value<QDBusArgument>() >> childNode;
        node.children.append(childNode);
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const MenuProperties& item)
{
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuProperties& item)
{
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const MenuKeys& item)
{
    arg.beginStructure();
    arg << item.id << item.keys;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuKeys& item)
{
    arg.beginStructure();
    arg >> item.id >> item.keys;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const MenuEvent& event)
{
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuEvent& event)
{
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

} // namespace platform::sni

namespace platform {

namespace {

const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<sni::MenuLayout>();
        qDBusRegisterMetaType<sni::MenuProperties>();
        qDBusRegisterMetaType<sni::MenuPropertiesList>();
        qDBusRegisterMetaType<sni::MenuKeys>();
        qDBusRegisterMetaType<sni::MenuKeysList>();
        qDBusRegisterMetaType<sni::MenuEvent>();
        qDBusRegisterMetaType<sni::MenuEvents>();
        return true;
    }();
    (void)registered;
}

// Whether a caller's argument came as `signature`: QtDBus reads a structure or an array out of an argument of
// any shape, and one read so from a plain value crashes in libdbus.
bool hasSignature(const QVariant& value, QLatin1String signature)
{
    return value.canConvert<QDBusArgument>() && value.value<QDBusArgument>().currentSignature() == signature;
}

template<typename T>
QList<T> demarshalled(const QVariant& value)
{
    QList<T> list;
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> list;
    return list;
}

// Qt marks a mnemonic with '&', dbusmenu with '_'.
QString dbusMenuLabel(const QString& text)
{
    QString label;
    label.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('_')) {
            label += QStringLiteral("__");
        } else if (c == QLatin1Char('&')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&'))
                label += text.at(++i);
            else
                label += QLatin1Char('_');
        } else {
            label += c;
        }
    }
    return label;
}

} // namespace

DBusMenuExporter::DBusMenuExporter(QMenu* menu, QString path)
    : menu_(menu), path_(std::move(path)), bus_(QDBusConnection::sessionBus())
{
    registerTypes();
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(0);
    connect(flushTimer_, &QTimer::timeout, this, [this] { flush(); });
    if (menu_)
        watchMenu(menu_);
    registered_ = bus_.isConnected() && bus_.registerVirtualObject(path_, this, QDBusConnection::SingleNode);
}

DBusMenuExporter::~DBusMenuExporter()
{
    unregister();
}

void DBusMenuExporter::setMenu(QMenu* menu)
{
    if (menu == menu_)
        return;
    menu_ = menu;
    watchMenu(menu);
    layoutDirty_ = true;
    scheduleFlush();
}

void DBusMenuExporter::unregister()
{
    if (std::exchange(registered_, false))
        bus_.unregisterObject(path_);
}

void DBusMenuExporter::watchMenu(QMenu* menu)
{
    if (!menu || watched_.contains(menu))
        return;
    watched_.insert(menu);
    menu->installEventFilter(this);
    connect(menu, &QObject::destroyed, this, [this, menu] {
        watched_.remove(menu);
        layoutDirty_ = true;
        scheduleFlush();
    });
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionRemoved:
        layoutDirty_ = true;
        scheduleFlush();
        break;
    case QEvent::ActionChanged:
        if (auto* action = static_cast<QActionEvent*>(event)->action()) {
            // A submenu set or taken changes the layout; any other change only the item.
            if (action->menu())
                watchMenu(action->menu());
            // An item no host has read yet needs no word.
            if (const auto id = ids_.constFind(action); id != ids_.cend()) {
                changed_.insert(*id);
                scheduleFlush();
            }
        }
        break;
    default:
        break;
    }
    return QDBusVirtualObject::eventFilter(watched, event);
}

void DBusMenuExporter::scheduleFlush()
{
    if (!flushTimer_->isActive())
        flushTimer_->start();
}

void DBusMenuExporter::flush()
{
    if (!registered_)
        return;
    if (std::exchange(layoutDirty_, false)) {
        changed_.clear();
        ++revision_;
        QDBusMessage signal = QDBusMessage::createSignal(path_, kMenuInterface, QStringLiteral("LayoutUpdated"));
        signal << revision_ << 0;
        bus_.send(signal);
        return;
    }
    sni::MenuPropertiesList updated;
    for (const int id : std::as_const(changed_))
        if (QAction* action = actions_.value(id))
            updated.append({id, propertiesOf(action)});
    changed_.clear();
    if (updated.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(path_, kMenuInterface, QStringLiteral("ItemsPropertiesUpdated"));
    signal << QVariant::fromValue(updated) << QVariant::fromValue(sni::MenuKeysList());
    bus_.send(signal);
}

int DBusMenuExporter::idOf(QAction* action)
{
    if (const auto found = ids_.constFind(action); found != ids_.cend() && actions_.value(*found) == action)
        return *found;
    const int id = nextId_++;
    ids_.insert(action, id);
    actions_.insert(id, action);
    connect(action, &QObject::destroyed, this, [this, action, id] {
        ids_.remove(action);
        actions_.remove(id);
    });
    if (action->menu())
        watchMenu(action->menu());
    return id;
}

QMenu* DBusMenuExporter::menuOf(int id) const
{
    if (id == 0)
        return menu_;
    const QAction* action = actions_.value(id);
    return action ? action->menu() : nullptr;
}

QVariantMap DBusMenuExporter::propertiesOf(QAction* action) const
{
    QVariantMap properties;
    if (action->isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        properties.insert(QStringLiteral("label"), dbusMenuLabel(action->text()));
        if (action->menu())
            properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        if (action->isCheckable()) {
            const bool radio = action->actionGroup() && action->actionGroup()->isExclusive();
            properties.insert(QStringLiteral("toggle-type"), radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
            properties.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
    }
    if (!action->isEnabled())
        properties.insert(QStringLiteral("enabled"), false);
    if (!action->isVisible())
        properties.insert(QStringLiteral("visible"), false);
    return properties;
}

void DBusMenuExporter::activate(int id)
{
    // After the reply, outside the bus's call: the command may open a modal window or quit.
    QTimer::singleShot(0, this, [this, id] {
        if (QAction* action = actions_.value(id); action && action->isEnabled())
            action->trigger();
    });
}

QString DBusMenuExporter::introspect(const QString&) const
{
    return QStringLiteral(
        "<interface name=\"com.canonical.dbusmenu\">"
        "<property name=\"Version\" type=\"u\" access=\"read\"/>"
        "<property name=\"TextDirection\" type=\"s\" access=\"read\"/>"
        "<property name=\"Status\" type=\"s\" access=\"read\"/>"
        "<property name=\"IconThemePath\" type=\"as\" access=\"read\"/>"
        "<method name=\"GetLayout\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"as\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/>"
        "<arg type=\"(ia{sv}av)\" direction=\"out\"/></method>"
        "<method name=\"GetGroupProperties\"><arg type=\"ai\" direction=\"in\"/><arg type=\"as\" direction=\"in\"/>"
        "<arg type=\"a(ia{sv})\" direction=\"out\"/></method>"
        "<method name=\"GetProperty\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
        "<arg type=\"v\" direction=\"out\"/></method>"
        "<method name=\"Event\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
        "<arg type=\"v\" direction=\"in\"/><arg type=\"u\" direction=\"in\"/></method>"
        "<method name=\"EventGroup\"><arg type=\"a(isvu)\" direction=\"in\"/><arg type=\"ai\" direction=\"out\"/></method>"
        "<method name=\"AboutToShow\"><arg type=\"i\" direction=\"in\"/><arg type=\"b\" direction=\"out\"/></method>"
        "<method name=\"AboutToShowGroup\"><arg type=\"ai\" direction=\"in\"/><arg type=\"ai\" direction=\"out\"/>"
        "<arg type=\"ai\" direction=\"out\"/></method>"
        "<signal name=\"ItemsPropertiesUpdated\"><arg type=\"a(ia{sv})\"/><arg type=\"a(ias)\"/></signal>"
        "<signal name=\"LayoutUpdated\"><arg type=\"u\"/><arg type=\"i\"/></signal>"
        "<signal name=\"ItemActivationRequested\"><arg type=\"i\"/><arg type=\"u\"/></signal>"
        "</interface>");
}

bool DBusMenuExporter::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    const QString& member = message.member();
    const QVariantList args = message.arguments();
    if (message.interface() == dbus::kPropertiesInterface) {
        const QVariantMap all{{QStringLiteral("Version"), 3u},
                              {QStringLiteral("TextDirection"), QStringLiteral("ltr")},
                              {QStringLiteral("Status"), QStringLiteral("normal")},
                              {QStringLiteral("IconThemePath"), QStringList()}};
        if (member == QLatin1String("GetAll")) {
            dbus::reply(connection, message, {all});
        } else if (member == QLatin1String("Get") && args.size() == 2 && all.contains(args.at(1).toString())) {
            dbus::reply(connection, message, {QVariant::fromValue(QDBusVariant(all.value(args.at(1).toString())))});
        } else {
            dbus::replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                       QStringLiteral("no such property"));
        }
        return true;
    }
    if (!message.interface().isEmpty() && message.interface() != kMenuInterface)
        return false;
    if ((member == QLatin1String("GetGroupProperties") || member == QLatin1String("AboutToShowGroup") ||
         member == QLatin1String("EventGroup")) &&
        (args.isEmpty() || !hasSignature(args.at(0), member == QLatin1String("EventGroup") ? QLatin1String("a(isvu)") : QLatin1String("ai")))) {
        dbus::replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                   QStringLiteral("arguments of another type expected"));
        return true;
    }

    if (member == QLatin1String("GetLayout") && args.size() >= 2) {
        const int parent = args.at(0).toInt();
        const int depth = args.at(1).toInt();
        QMenu* parentMenu = menuOf(parent);
        if (parent != 0 && !actions_.value(parent)) {
            dbus::replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                       QStringLiteral("no such menu item"));
            return true;
        }
        const std::function<sni::MenuLayout(int, QAction*, QMenu*, int)> node =
            [&](int id, QAction* action, QMenu* menu, int levels) {
                sni::MenuLayout layout;
                layout.id = id;
                if (action)
                    layout.properties = propertiesOf(action);
                else
                    layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
                if (menu && levels != 0)
                    for (QAction* child : menu->actions())
                        layout.children.append(node(idOf(child), child, child->menu(), levels < 0 ? -1 : levels - 1));
                return layout;
            };
        const sni::MenuLayout layout = node(parent, actions_.value(parent), parentMenu, depth);
        dbus::reply(connection, message, {revision_, QVariant::fromValue(layout)});
        return true;
    }
    if (member == QLatin1String("GetGroupProperties") && !args.isEmpty()) {
        const QList<int> ids = qdbus_cast<QList<int>>(args.at(0));
        sni::MenuPropertiesList list;
        for (const int id : ids) {
            if (id == 0)
                list.append({0, {{QStringLiteral("children-display"), QStringLiteral("submenu")}}});
            else if (QAction* action = actions_.value(id))
                list.append({id, propertiesOf(action)});
        }
        dbus::reply(connection, message, {QVariant::fromValue(list)});
        return true;
    }
    if (member == QLatin1String("GetProperty") && args.size() == 2) {
        const int id = args.at(0).toInt();
        QAction* action = actions_.value(id);
        const QVariantMap properties = action ? propertiesOf(action)
                                       : id == 0 ? QVariantMap{{QStringLiteral("children-display"), QStringLiteral("submenu")}}
                                                 : QVariantMap();
        dbus::reply(connection, message, {QVariant::fromValue(QDBusVariant(properties.value(args.at(1).toString())))});
        return true;
    }
    if (member == QLatin1String("Event") && args.size() >= 2) {
        if (args.at(1).toString() == QLatin1String("clicked"))
            activate(args.at(0).toInt());
        dbus::reply(connection, message);
        return true;
    }
    if (member == QLatin1String("EventGroup") && !args.isEmpty()) {
        QList<int> unknown;
        for (const sni::MenuEvent& event : demarshalled<sni::MenuEvent>(args.at(0))) {
            if (!actions_.value(event.id) && event.id != 0)
                unknown.append(event.id);
            else if (event.eventId == QLatin1String("clicked"))
                activate(event.id);
        }
        dbus::reply(connection, message, {QVariant::fromValue(unknown)});
        return true;
    }
    if (member == QLatin1String("AboutToShow") && !args.isEmpty()) {
        // The application refreshes the states of a menu's items as it opens.
        if (QMenu* menu = menuOf(args.at(0).toInt()))
            emit menu->aboutToShow();
        dbus::reply(connection, message, {false});
        return true;
    }
    if (member == QLatin1String("AboutToShowGroup") && !args.isEmpty()) {
        QList<int> unknown;
        for (const int id : qdbus_cast<QList<int>>(args.at(0))) {
            if (QMenu* menu = menuOf(id))
                emit menu->aboutToShow();
            else
                unknown.append(id);
        }
        dbus::reply(connection, message, {QVariant::fromValue(QList<int>()), QVariant::fromValue(unknown)});
        return true;
    }
    return false;
}

} // namespace platform
