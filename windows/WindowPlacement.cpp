#include "windows/WindowPlacement.h"

#include "platform/desktop/widgets/WindowHints.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLayout>
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

namespace {

qint64 areaOf(const QRect& r) { return r.isEmpty() ? 0 : qint64(r.width()) * r.height(); }

// The longest run of `strip`'s width that none of `over` covers.
int clearRun(const QRect& strip, const QList<QRect>& over)
{
    QList<std::pair<int, int>> covered;
    for (const QRect& r : over) {
        const QRect common = r.intersected(strip);
        if (!common.isEmpty())
            covered.append({common.x(), rightOf(common)});
    }
    std::sort(covered.begin(), covered.end());
    int longest = 0, from = strip.x();
    for (const auto& [left, right] : std::as_const(covered)) {
        longest = std::max(longest, left - from);
        from = std::max(from, right);
    }
    return std::max(longest, rightOf(strip) - from);
}

// How much of a title bar `width` wide must stay clear to take hold of it.
int holdOf(int width) { return std::min(width, std::max(100, width / 3)); }

} // namespace

QRect freePlace(const QRect& frame, const QSize& minimum, const QList<ShownFrame>& shown, const Screens& screens, int titleBar)
{
    const qsizetype index = screenIndexForFrame(frame, screens);
    const QRect area = index >= 0 ? screens.available.value(index) : screens.primaryAvailable();
    if (area.isEmpty())
        return frame;
    constexpr int kGap = 10; // between windows side by side
    const QSize size = frame.size().boundedTo(area.size());
    // A free place may cut a window a little, never squeeze it: two thirds of each side stay.
    const QSize least = minimum.expandedTo(QSize((size.width() * 2 + 2) / 3, (size.height() * 2 + 2) / 3)).boundedTo(size);
    // A window whose lower edge leaves the area still shows a third of itself, its title bar first.
    const int showing = std::min(size.height(), std::max(titleBar + 1, (size.height() + 2) / 3));
    // Candidate edges: the wanted place, the area's edges, and beside, above and below each shown window.
    QList<int> xs{frame.x(), area.x(), rightOf(area) - size.width()};
    QList<int> ys{frame.y(), area.y(), bottomOf(area) - size.height()};
    QList<QRect> frames, solid;
    for (const ShownFrame& s : shown) {
        const QRect& r = s.frame;
        frames << r;
        if (!s.yields)
            solid << r;
        xs << rightOf(r) + kGap << r.x() - size.width() - kGap << r.x() << rightOf(r) - size.width();
        ys << bottomOf(r) + kGap << r.y() - size.height() - kGap << r.y();
    }
    // Only what shows counts: a lower edge off the area hides nothing there.
    const auto hiddenOf = [&](const QList<QRect>& others, const QRect& place) {
        qint64 hidden = 0;
        for (const QRect& r : others)
            hidden += areaOf(r.intersected(place).intersected(area));
        return hidden;
    };
    const auto hiddenBy = [&](const QRect& place) { return hiddenOf(frames, place); };
    // No head covered, no title bar of its own in another frame, none of the others' taken out of hold.
    const auto leavesHeads = [&](const QRect& place) {
        const QRect own(place.x(), place.y(), place.width(), titleBar);
        if (titleBar > 0 && clearRun(own, solid) < holdOf(place.width()))
            return false;
        for (const ShownFrame& s : shown) {
            if (s.keptClear > 0 && place.intersects(QRect(s.frame.x(), s.frame.y(), s.frame.width(), s.keptClear)))
                return false;
            if (s.titleBar <= 0 || s.yields)
                continue;
            const QRect strip = QRect(s.frame.x(), s.frame.y(), s.frame.width(), s.titleBar).intersected(area);
            QList<QRect> others;
            for (const ShownFrame& o : shown)
                if (&o != &s && !o.yields)
                    others << o.frame;
            // Held before: it must stay held. A bar that others hid already is not this window's to mend.
            const int before = clearRun(strip, others);
            others << place;
            if (clearRun(strip, others) < std::min(before, holdOf(strip.width())))
                return false;
        }
        return true;
    };
    struct Score {
        qint64 lost = 0; // of the window's own size, or of the others' and off the area
        qint64 distance = 0;
        bool operator<(const Score& o) const { return std::tie(lost, distance) < std::tie(o.lost, o.distance); }
    };
    // Tiers in turn: free and cut by a third at most; free and whole, lower edge off the area; over the others'
    // bodies only; wherever it hides least.
    constexpr int kTiers = 4;
    QRect best[kTiers];
    Score scores[kTiers];
    const auto offer = [&](int tier, const QRect& place, qint64 lost) {
        const qint64 px = place.x() - frame.x(), py = place.y() - frame.y();
        const Score score{lost, px * px + py * py};
        if (best[tier].isNull() || score < scores[tier]) {
            best[tier] = place;
            scores[tier] = score;
        }
    };
    const auto cut = [&](int wantedX, int wantedY, const QSize& smallest) {
        const int x = std::clamp(wantedX, area.x(), rightOf(area) - smallest.width());
        const int y = std::clamp(wantedY, area.y(), bottomOf(area) - smallest.height());
        return QRect(x, y, std::min(size.width(), rightOf(area) - x), std::min(size.height(), bottomOf(area) - y));
    };
    const qint64 own = areaOf(QRect(QPoint(), frame.size()));
    for (const int wantedX : std::as_const(xs))
        for (const int wantedY : std::as_const(ys)) {
            const int x = std::clamp(wantedX, area.x(), rightOf(area) - size.width());
            const QRect entire(QPoint(x, std::clamp(wantedY, area.y(), bottomOf(area) - size.height())), size);
            const QRect lowered(QPoint(x, std::clamp(wantedY, area.y(), bottomOf(area) - showing)), size);
            const qint64 below = areaOf(lowered) - areaOf(lowered.intersected(area));
            if (const QRect place = cut(wantedX, wantedY, least); hiddenBy(place) == 0)
                offer(0, place, own - areaOf(place));
            if (hiddenBy(lowered) == 0)
                offer(1, lowered, below);
            for (const QRect& place : {entire, lowered})
                if (leavesHeads(place))
                    offer(2, place, hiddenOf(solid, place) + areaOf(place) - areaOf(place.intersected(area)));
            offer(3, entire, hiddenOf(solid, entire));
        }
    for (const QRect& place : best)
        if (!place.isNull())
            return place;
    return frame;
}

QRect freePlace(const QRect& frame, const QSize& minimum, const QList<QRect>& shown, const Screens& screens)
{
    QList<ShownFrame> frames;
    for (const QRect& r : shown)
        frames.append({r, 0, 0, false});
    return freePlace(frame, minimum, frames, screens);
}

namespace {
constexpr char kMenuBarKeptClear[] = "kelvaroMenuBarKeptClear";
}

void keepMenuBarClear(QWidget* window)
{
    if (window)
        window->setProperty(kMenuBarKeptClear, true);
}

QList<ShownFrame> shownWindowFrames(const QWidget* except)
{
    QList<ShownFrame> frames;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return frames;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        // Alerts come and go and stay in front; tray icons are windows too, docked into the tray's.
        if (w == except || !w->isVisible() || (type != Qt::Window && type != Qt::Tool) ||
            w->inherits("QSystemTrayIconSys"))
            continue;
        // A window just shown may not have its frame yet: the one it is getting counts. The screen display,
        // frameless, is the desktop's: it lies below the windows, or lets their clicks through.
        ShownFrame shown{platform::expectedFrameGeometry(w), platform::frameMargins(w).top(), 0,
                         w->windowFlags().testFlag(Qt::FramelessWindowHint)};
        if (w->property(kMenuBarKeptClear).toBool()) {
            const QWidget* bar = w->layout() ? w->layout()->menuBar() : nullptr;
            shown.keptClear = shown.titleBar + (bar ? std::max(bar->height(), bar->sizeHint().height()) : 0);
        }
        frames.append(shown);
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
