#pragma once
// How the tray's icons reach the desktop's tray: XEmbed (XEmbedTray.h) or StatusNotifierItems on the session
// bus (StatusNotifierTray.h). QtStatusItem draws the slots and chooses the transport the session offers; the
// transport shows them. Either keeps the icons it made for as long as a host may read them. Main thread.
//
// Qt's QSystemTrayIcon serves XEmbed trays only. Where a StatusNotifierWatcher runs it would turn into Qt's
// own StatusNotifierItem, whose icons and shared menu were deleted while the host still read them over the
// bus: the heap was corrupted at a change of the number of values, and Lite crashed when the tray host went;
// its first use also waits on the bus. StatusNotifierTray is the program's own for that.

#include <QIcon>
#include <QString>

namespace platform {

class TrayTransport {
public:
    virtual ~TrayTransport() = default;

    // The transport takes over the tray, or its tray host is new: what the host must be told again.
    virtual void enter() = 0;
    // Another transport, or none, takes over: its icons out of the tray.
    virtual void leave() = 0;
    // Before the slots of a greater count are shown: room for `count` of them.
    virtual void prepareSlots(qsizetype count) { (void)count; }
    // Slot `index`'s icon, shown with `toolTip`; `drawn` when the slot's icon was made anew.
    virtual void showSlot(qsizetype index, const QIcon& icon, bool drawn, const QString& toolTip) = 0;
    // Slots from `count` on hidden and kept: a host may still read them, and a later count shows them again.
    virtual void hideSlotsFrom(qsizetype count) = 0;
    // Slots `before` to `count` shown after those before: all in the title's order on the tray.
    virtual void showMore(qsizetype before, qsizetype count) = 0;
};

} // namespace platform
