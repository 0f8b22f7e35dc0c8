#include "windows/WindowFrameRecord.h"

#include "platform/desktop/widgets/WindowHints.h"
#include "platform/desktop/widgets/WindowPosition.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "windows/WindowPlacement.h"

#include <QEvent>
#include <QStringList>
#include <QWidget>

namespace {

class FrameRecorder final : public QObject {
public:
    FrameRecorder(QWidget* window, QString key, std::shared_ptr<platform::UserDefaults> defaults)
        : QObject(window)
        , window_(window)
        , key_(std::move(key))
        , defaults_(std::move(defaults))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_)
            return false;
        // A frame the window manager adds after the last move or resize moves the window's corner without
        // a move event: recorded before, the place would be its contents', the frame opening that much lower
        // at the next start.
        const bool framed = window_->frameGeometry() != window_->geometry();
        if (platform::changesFrameRecord(event) || (recordedUnframed_ && framed && platform::platformKnowsWindowPositions())) {
            const QString record = platform::windowFrameRecord(window_, defaults_->stringForKey(key_));
            if (!record.isNull())
                defaults_->setObject(record, key_);
            recordedUnframed_ = !framed;
        }
        return false;
    }

private:
    QWidget* window_;
    QString key_;
    std::shared_ptr<platform::UserDefaults> defaults_;
    bool recordedUnframed_ = false;
};

// Gives a window that has no recorded place a free one when it first shows, once its size is known.
class FirstPlacer final : public QObject {
public:
    explicit FirstPlacer(QWidget* window)
        : QObject(window)
        , window_(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_)
            return false;
        // A window manager keeps a window it maps within the screen: one placed with its lower edge off it is
        // moved there again once framed (by its first paint, which follows the map), as a window the user moved
        // there would stay.
        const bool framed = window_->frameGeometry() != window_->geometry();
        if (wanted_ && framed && ((event->type() == QEvent::Move && event->spontaneous()) || event->type() == QEvent::Paint)) {
            if (platform::expectedFrameGeometry(window_).topLeft() != *wanted_)
                platform::moveFrameTo(window_, *wanted_);
            deleteLater();
            return false;
        }
        // Sent before the window maps: it appears at its place.
        if (placed_ || event->type() != QEvent::Show || event->spontaneous())
            return false;
        placed_ = true;
        const auto screens = WindowPlacement::currentScreens();
        if (!screens.geometries.isEmpty()) {
            // The frame counts: its title bar must not cover the window above, nor its border leave the screen.
            const QMargins frame = platform::frameMargins(window_);
            const QSize decoration(frame.left() + frame.right(), frame.top() + frame.bottom());
            const QSize minimum = window_->minimumSizeHint().expandedTo(window_->minimumSize()) + decoration;
            const QRect place = WindowPlacement::freePlace(QRect(window_->pos(), window_->size() + decoration), minimum,
                                                           WindowPlacement::shownWindowFrames(window_), screens, frame.top());
            platform::moveFrameTo(window_, place.topLeft());
            window_->resize(place.size() - decoration);
            const qsizetype index = WindowPlacement::screenIndexForFrame(place, screens);
            const QRect area = screens.available.value(index < 0 ? screens.primary : index);
            if (place.y() + place.height() > area.y() + area.height() && platform::platformKnowsWindowPositions()) {
                wanted_ = place.topLeft();
                return false;
            }
        }
        window_->removeEventFilter(this);
        deleteLater();
        return false;
    }

private:
    QWidget* window_;
    bool placed_ = false;
    std::optional<QPoint> wanted_;
};

} // namespace

namespace WindowFrameRecord {

std::optional<QRect> parse(const QString& record)
{
    const QStringList parts = record.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return std::nullopt;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts.at(i).toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (numbers[2] <= 0 || numbers[3] <= 0)
        return std::nullopt;
    return QRect(numbers[0], numbers[1], numbers[2], numbers[3]);
}

void attach(QWidget* window, const QString& name, const QPoint& fallback, std::shared_ptr<platform::UserDefaults> defaults)
{
    if (!window)
        return;
    if (!defaults && platform::Bundle::main())
        defaults = platform::UserDefaults::standard();
    const QString key = kPrefix + name;
    const auto frame = defaults ? parse(defaults->stringForKey(key)) : std::nullopt;
    if (frame) {
        // Saved on a screen that is gone or was larger: brought back whole within this one.
        const auto screens = WindowPlacement::currentScreens();
        const QRect shown = screens.geometries.isEmpty() ? *frame : WindowPlacement::bringOntoScreen(*frame, screens);
        window->resize(shown.size());
        window->move(shown.topLeft());
    } else {
        window->move(fallback);
        new FirstPlacer(window);
    }
    if (defaults)
        new FrameRecorder(window, key, std::move(defaults));
}

} // namespace WindowFrameRecord
