#pragma once
// How the preferences store a colour (non-keyed archive data of one colour object), and the desktop
// colours they default to. Pure functions; any thread.

#include "platform/foundation/Color.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <memory>

namespace storedcolor {

// Null when the data holds no colour.
std::shared_ptr<platform::Color> fromArchivedData(const QByteArray& data);
// Stores the colour's archive under `key`; a null colour, or one the archiver refuses (it logs why), leaves
// the key out rather than writing it empty.
void insert(QVariantMap& dictionary, const QString& key, const std::shared_ptr<platform::Color>& color);

// Fixed values as calibrated grey: a stored set holds no named system colours of ours.
std::shared_ptr<platform::Color> windowBackground(); // the light palette's #efefef
std::shared_ptr<platform::Color> black();

} // namespace storedcolor
