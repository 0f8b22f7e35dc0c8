#pragma once
// Helpers shared by the history windows: texts from the main bundle's default table, numbers in the user's
// locale, the colours and fonts the graphs draw with. Main thread.

#include "platform/foundation/Color.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

#include <memory>

namespace historywindows {

// The English text itself without a bundle or translation.
QString localized(const QString& key);
// One printf conversion ("%5.1f") with the user's decimal separator.
QString userNumber(const char* format, double value);
QFont smallSystemFont();
QColor gridColor(const QPalette& palette);
// `fallback` for null.
QColor toQColor(const std::shared_ptr<platform::Color>& color, const QColor& fallback = QColor());
// Device RGB; null for an invalid colour.
std::shared_ptr<platform::Color> fromQColor(const QColor& color);

} // namespace historywindows
