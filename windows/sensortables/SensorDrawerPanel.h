#pragma once
// SensorDrawerPanel: the panel beside the preference window that lists every connected sensor, the source
// the channel tables are filled from by drag and drop. It opens beside the window on the side with room,
// follows the window while open, and keeps its width for the next opening. Made by the
// SensorTablesController as a child window of the preference window; main thread only.

#include <QPointer>
#include <QRect>
#include <QWidget>

class TEVDragTableView;

class SensorDrawerPanel final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultWidth = 338;
    static inline const QString kWidthDefaultsKey = QStringLiteral("LastSensorDrawerWidth");

    // Where the panel goes beside `window` (its frame) on a screen whose visible area is `visible`, both in
    // the screen's top-left coordinates: right of the window when the panel fits there, else left of it when
    // it fits there, else on the side with more room, full width, even if that leaves the visible area.
    static QRect drawerFrame(const QRect& window, const QRect& visible, int width);
    // The width stored at the last close; the default when none (or 0) is stored.
    static int lastDrawerWidth();

    explicit SensorDrawerPanel(QWidget* preferenceWindow);
    ~SensorDrawerPanel() override;

    TEVDragTableView* sensorSourceTable() const;
    // Places the panel beside the preference window and shows it in front.
    void openBesidePreferenceWindow();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Ui;
    std::unique_ptr<Ui> ui_;
    QPointer<QWidget> preferenceWindow_;
    QPoint offset_; // from the preference window's position while open
};
