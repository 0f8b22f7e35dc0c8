#include "windows/WindowPlacement.h"

#include "platform/desktop/widgets/WindowHints.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <tuple>

namespace WindowPlacement {

namespace {

// Exclusive edges: QRect::right() and bottom() are one short.
int rightOf(const QRect& r) { return r.x() + r.width(); }
int bottomOf(const QRect& r) { return r.y() + r.height(); }

} // namespace

Screens currentScreens()
{
    Screens screens;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return screens;
    const auto all = QGuiApplication::screens();
    for (qsizetype i = 0; i < all.size(); ++i) {
        screens.geometries.append(all.at(i)->geometry());
        screens.available.append(all.at(i)->availableGeometry());
        if (all.at(i) == QGuiApplication::primaryScreen())
            screens.primary = i;
    }
    return screens;
}

bool isOnAnyScreen(const QRect& frame, const Screens& screens)
{
    return std::any_of(screens.geometries.cbegin(), screens.geometries.cend(),
                       [&frame](const QRect& screen) { return screen.intersects(frame); });
}

bool showsEnoughOfFrame(const QRect& frame, const Screens& screens, const QSize& enough)
{
    const QSize needed = enough.boundedTo(frame.size());
    return std::any_of(screens.available.cbegin(), screens.available.cend(), [&](const QRect& screen) {
        const QRect common = screen.intersected(frame);
        return !common.isEmpty() && common.width() >= needed.width() && common.height() >= needed.height();
    });
}

qsizetype screenIndexForFrame(const QRect& frame, const Screens& screens)
{
    qsizetype best = -1;
    qint64 bestArea = 0;
    for (qsizetype i = 0; i < screens.geometries.size(); ++i) {
        const QRect common = screens.geometries.at(i).intersected(frame);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    return best;
}

QRect fitFrameToScreen(const QRect& frame, const QSize& minimum, const QSize& maximum, const Screens& screens)
{
    const qsizetype index = screenIndexForFrame(frame, screens);
    const QRect visible = index >= 0 ? screens.available.value(index) : screens.primaryAvailable();
    if (visible.isEmpty())
        return QRect(frame.topLeft(), maximum);
    // A detached screen leaves no visible area to fit into: the window starts over on the primary screen.
    const QPoint start = index >= 0 ? frame.topLeft() : visible.topLeft();
    const int x = std::max(visible.x(), std::min(start.x(), rightOf(visible) - minimum.width()));
    int top = start.y();
    if (top > bottomOf(visible))
        top = bottomOf(visible) - 20;
    if (top < visible.y())
        top = visible.y();
    const int width = std::min(maximum.width(), rightOf(visible) - x);
    const int height = std::min(maximum.height(), bottomOf(visible) - top);
    return QRect(x, top, width, height);
}

QRect bringOntoScreen(const QRect& frame, const Screens& screens)
{
    const qsizetype index = screenIndexForFrame(frame, screens);
    const QRect visible = index >= 0 ? screens.available.value(index) : screens.primaryAvailable();
    if (visible.isEmpty())
        return frame;
    const QSize size = frame.size().boundedTo(visible.size());
    const int x = std::clamp(frame.x(), visible.x(), rightOf(visible) - size.width());
    const int y = std::clamp(frame.y(), visible.y(), bottomOf(visible) - size.height());
    return QRect(QPoint(x, y), size);
}

QRect freePlace(const QRect& frame, const QSize& minimum, const QList<QRect>& shown, const Screens& screens)
{
    const qsizetype index = screenIndexForFrame(frame, screens);
    const QRect area = index >= 0 ? screens.available.value(index) : screens.primaryAvailable();
    if (area.isEmpty())
        return frame;
    constexpr int kGap = 10; // between windows side by side
    const QSize size = frame.size().boundedTo(area.size());
    // A free place may cut a window a little, never squeeze it: two thirds of each side stay.
    const QSize least = minimum.expandedTo(QSize((size.width() * 2 + 2) / 3, (size.height() * 2 + 2) / 3)).boundedTo(size);
    // Candidate edges: the wanted place, the area's edges, and beside, above and below each shown window.
    QList<int> xs{frame.x(), area.x(), rightOf(area) - size.width()};
    QList<int> ys{frame.y(), area.y(), bottomOf(area) - size.height()};
    for (const QRect& r : shown) {
        xs << rightOf(r) + kGap << r.x() - size.width() - kGap << r.x();
        ys << bottomOf(r) + kGap << r.y() - size.height() - kGap << r.y();
    }
    const auto hiddenBy = [&shown](const QRect& place) {
        qint64 hidden = 0;
        for (const QRect& r : shown) {
            const QRect common = r.intersected(place);
            hidden += common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        }
        return hidden;
    };
    struct Score {
        qint64 lost = 0; // of the window's own size where it is free; of the others' where it cannot be
        qint64 distance = 0;
        bool operator<(const Score& o) const { return std::tie(lost, distance) < std::tie(o.lost, o.distance); }
    };
    QRect best, whole;
    Score bestScore, wholeScore;
    for (const int wantedX : std::as_const(xs))
        for (const int wantedY : std::as_const(ys)) {
            const qint64 dx = std::clamp(wantedX, area.x(), rightOf(area) - size.width()) - frame.x();
            const qint64 dy = std::clamp(wantedY, area.y(), bottomOf(area) - size.height()) - frame.y();
            // The whole window, for where no place is free: it hides as little of the others as it can.
            const QRect entire(QPoint(frame.x() + int(dx), frame.y() + int(dy)), size);
            const Score entireScore{hiddenBy(entire), dx * dx + dy * dy};
            if (whole.isNull() || entireScore < wholeScore) {
                whole = entire;
                wholeScore = entireScore;
            }
            const int x = std::clamp(wantedX, area.x(), rightOf(area) - least.width());
            const int y = std::clamp(wantedY, area.y(), bottomOf(area) - least.height());
            const QRect place(x, y, std::min(size.width(), rightOf(area) - x), std::min(size.height(), bottomOf(area) - y));
            if (hiddenBy(place) > 0)
                continue;
            Score score;
            score.lost = qint64(frame.width()) * frame.height() - qint64(place.width()) * place.height();
            const qint64 px = x - frame.x(), py = y - frame.y();
            score.distance = px * px + py * py;
            if (best.isNull() || score < bestScore) {
                best = place;
                bestScore = score;
            }
        }
    return best.isNull() ? whole : best;
}

QList<QRect> shownWindowFrames(const QWidget* except)
{
    QList<QRect> frames;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return frames;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        // Alerts come and go and stay in front; tray icons are windows too, docked into the tray's.
        if (w == except || !w->isVisible() || (type != Qt::Window && type != Qt::Tool) ||
            w->inherits("QSystemTrayIconSys"))
            continue;
        // A window just shown may not have its frame yet: the one it is getting counts.
        frames.append(platform::expectedFrameGeometry(w));
    }
    return frames;
}

QPoint cascadeTopLeft(int slot, const Screens& screens)
{
    constexpr int kStep = 30;
    const QPoint start(300, 300);
    const QPoint wanted = start + QPoint(slot * kStep, slot * kStep);
    const QRect area = screens.primaryAvailable();
    // Keep room for a window of a few hundred pixels below and right of the corner.
    if (area.isEmpty() || (wanted.x() + 200 <= rightOf(area) && wanted.y() + 150 <= bottomOf(area) && area.contains(wanted)))
        return wanted;
    const int columns = std::max(1, (area.width() - 200) / kStep);
    const int rows = std::max(1, (area.height() - 150) / kStep);
    const int step = std::max(0, slot) % std::min(columns, rows);
    return area.topLeft() + QPoint(20 + step * kStep, 20 + step * kStep);
}

QPoint offScreenFallbackTopLeft(const Screens& screens)
{
    const QRect primary = screens.primaryGeometry();
    return primary.topLeft() + QPoint(int(primary.width() * 0.125), int(primary.height() * 0.125));
}

bool isAllowedToCrossTopScreenBorder(const QPoint& topLeft, qsizetype currentScreen, const Screens& screens)
{
    for (qsizetype i = 0; i < screens.geometries.size(); ++i)
        if (i != currentScreen && screens.geometries.at(i).contains(topLeft))
            return true;
    return false;
}

QPoint dragTopLeft(const QPoint& proposed, qsizetype currentScreen, const Screens& screens)
{
    if (currentScreen < 0 || currentScreen >= screens.geometries.size())
        return proposed;
    const int screenTop = screens.geometries.at(currentScreen).y();
    if (proposed.y() >= screenTop || isAllowedToCrossTopScreenBorder(proposed, currentScreen, screens))
        return proposed;
    return QPoint(proposed.x(), screenTop);
}

} // namespace WindowPlacement
