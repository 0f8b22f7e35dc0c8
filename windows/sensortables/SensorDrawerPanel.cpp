#include "windows/sensortables/SensorDrawerPanel.h"

#include "platform/foundation/UserDefaults.h"
#include "windows/sensortables/SensorTablesText.h"

#include "ui_SensorDrawer.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QScreen>

struct SensorDrawerPanel::Ui : ::Ui::SensorDrawer {};

QRect SensorDrawerPanel::drawerFrame(const QRect& window, const QRect& visible, int width)
{
    // Edges as positions past the last pixel, so a panel exactly as wide as the room does not fit.
    const int windowRight = window.x() + window.width();
    const int visibleRight = visible.x() + visible.width();
    const int roomLeft = window.x() - visible.x();
    const int roomRight = visibleRight - windowRight;
    int x = 0;
    if (visibleRight > windowRight + width)
        x = windowRight;
    else if (width < roomLeft)
        x = window.x() - width;
    else
        x = roomLeft < roomRight ? windowRight : window.x() - width;
    return QRect(x, window.y(), width, window.height());
}

int SensorDrawerPanel::lastDrawerWidth()
{
    const auto defaults = platform::UserDefaults::standard();
    const float width = defaults ? defaults->floatForKey(kWidthDefaultsKey) : 0.0f;
    return width > 0.0f ? qRound(width) : kDefaultWidth;
}

SensorDrawerPanel::SensorDrawerPanel(QWidget* preferenceWindow)
    : QWidget(preferenceWindow, Qt::Tool)
    , ui_(std::make_unique<Ui>())
    , preferenceWindow_(preferenceWindow)
{
    ui_->setupUi(this);
    setWindowTitle(sensortables::localized(QStringLiteral("Sensors")));
    ui_->sensorDrawerMessage->setText(
        sensortables::localized(QStringLiteral("Drag sensors from this list into the tables of the preference window.")));
    ui_->sensorSourceTable->verticalHeader()->hide();
    ui_->sensorSourceTable->horizontalHeader()->setStretchLastSection(true);
    if (preferenceWindow_)
        preferenceWindow_->installEventFilter(this);
}

SensorDrawerPanel::~SensorDrawerPanel() = default;

TEVDragTableView* SensorDrawerPanel::sensorSourceTable() const
{
    return ui_->sensorSourceTable;
}

void SensorDrawerPanel::openBesidePreferenceWindow()
{
    QRect window;
    QRect visible;
    if (preferenceWindow_) {
        window = preferenceWindow_->frameGeometry();
        if (const QScreen* screen = preferenceWindow_->screen())
            visible = screen->availableGeometry();
    }
    const QRect frame = drawerFrame(window, visible, lastDrawerWidth());
    setGeometry(frame);
    offset_ = frame.topLeft() - window.topLeft();
    show();
    raise();
}

void SensorDrawerPanel::closeEvent(QCloseEvent* event)
{
    if (const auto defaults = platform::UserDefaults::standard())
        defaults->setFloat(float(width()), kWidthDefaultsKey);
    QWidget::closeEvent(event);
}

bool SensorDrawerPanel::eventFilter(QObject* watched, QEvent* event)
{
    // Attached to the preference window: it moves along and closes with it.
    if (watched == preferenceWindow_ && isVisible()) {
        if (event->type() == QEvent::Move)
            move(preferenceWindow_->frameGeometry().topLeft() + offset_);
        else if (event->type() == QEvent::Hide || event->type() == QEvent::Close)
            close();
    }
    return QWidget::eventFilter(watched, event);
}
