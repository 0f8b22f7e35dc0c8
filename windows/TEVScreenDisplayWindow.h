#pragma once
// TEVScreenDisplayWindow: the borderless floating display of the sensor values, above every window or (in
// backdrop mode) below them, dragged by its text unless fixed. Translucent where a compositor runs; without
// one it is shaped to its text, so the desktop shows around the values instead of a black box. Either way
// only its text takes clicks; it takes no keyboard focus and no task bar lists it. Owned by its
// TEVSensorWindowController; main thread.

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QWidget>

class QTextDocument;

class TEVScreenDisplayWindow final : public QWidget {
    Q_OBJECT
public:
    explicit TEVScreenDisplayWindow(bool translucent);

    void enableBackdropMode(bool enable);
    bool hasBackdropModeEnabled() const { return backdrop_; }
    void setWindowHasFixedPosition(bool fixed) { fixed_ = fixed; }
    bool windowHasFixedPosition() const { return fixed_; }
    void setHasShadow(bool shadow);
    bool hasShadow() const { return shadow_; }
    bool isTranslucent() const { return translucent_; }

    // Renders `document` (laid out at `size`) as the window's content and reshapes the window to it.
    void setContent(QTextDocument& document, const QSize& size);
    // The content as drawn (shadow and text over transparency), as a compositor would show it.
    QImage contentImage() const { return content_; }

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void applyWindowFlags();
    void reshape();
    void applyShape();

    QImage text_;
    QImage content_;
    QRegion shape_; // of the drawn pixels, without translucency
    QPoint initialLocation_;
    bool translucent_;
    bool backdrop_ = false;
    bool fixed_ = false;
    bool shadow_ = false;
};
