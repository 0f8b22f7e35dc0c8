#pragma once
// The images of a bundle, decoded as the format their file's suffix names. A reader left to guess a format
// loads and asks every image format plugin, which then stay mapped for the rest of the run. Any thread.

#include <QImage>
#include <QString>

namespace platform {

class Bundle;

// Null when there is no bundle, no image of that name, or it does not decode as its suffix says.
QImage bundleImage(const Bundle* bundle, const QString& name);

} // namespace platform
