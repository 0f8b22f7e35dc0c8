#pragma once
// ComputerNames: how the outline of the preference window and the per-computer windows name monitored
// computers: by the computer's own name, and where several computers share one (identical machines of a
// rack often do), by that name and where each is reached, so that no two read alike. Pure functions.

#include <QList>
#include <QString>
#include <QStringList>

class MonitorConnectionInfo;

namespace computernames {

struct Computer {
    QString name;  // what the computer calls itself (or the readable stand-in for it)
    QString place; // where it is reached (placeOf); empty when not known
    QString serial;
};

// "host:port" ("[::1]:port" for an IPv6 address), a service's name, or "this computer"; empty for null.
QString placeOf(const MonitorConnectionInfo* info);

// One text per computer, in order: the name where no other computer has it, "name (place)" where one does,
// and the serial number added where even the place does not tell them apart.
QStringList distinctNames(const QList<Computer>& computers);

} // namespace computernames
