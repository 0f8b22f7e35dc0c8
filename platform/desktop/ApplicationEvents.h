#pragma once
// Names of the application's life-cycle notifications on platform::NotificationCenter::defaultCenter(),
// posted by the program's entry on the main thread.

#include <QString>

namespace platform {

// Posted once when the program is about to quit (from QCoreApplication::aboutToQuit).
inline const QString ApplicationWillTerminateNotification = QStringLiteral("NSApplicationWillTerminateNotification");

} // namespace platform
