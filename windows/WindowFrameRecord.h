#pragma once
// WindowFrameRecord: a window's place and size kept under "TEVWindowFrame-<name>" in the program's standard
// defaults ("x y width height", top-left first), as the sensor and history windows keep theirs: restored when
// attached, saved whenever the window moves or resizes. Main thread.

#include <QPoint>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>

class QWidget;
namespace platform {
class UserDefaults;
}

namespace WindowFrameRecord {

inline const QString kPrefix = QStringLiteral("TEVWindowFrame-");

// Nothing for a record that is not four integers with a positive size.
std::optional<QRect> parse(const QString& record);

// Gives `window` its recorded frame, brought whole within the available area of its screen; without a record
// the window opens at `fallback`, or where it first shows at the free place nearest it (see
// WindowPlacement::freePlace). From then on the record follows the window. Null `defaults`: the program's standard defaults (none outside a program: no record).
void attach(QWidget* window, const QString& name, const QPoint& fallback,
            std::shared_ptr<platform::UserDefaults> defaults = nullptr);

} // namespace WindowFrameRecord
