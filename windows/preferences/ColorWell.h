#pragma once
// ColorWell: a button that shows a preference colour and lets the user pick another. It keeps the colour
// object it was given, so a colour nobody picked goes back to the preferences exactly as it came (its colour
// space and components included). Main thread only.

#include "platform/foundation/Color.h"

#include <QToolButton>

#include <memory>

class ColorWell : public QToolButton {
    Q_OBJECT

public:
    explicit ColorWell(QWidget* parent = nullptr);

    std::shared_ptr<platform::Color> color() const { return color_; }
    void setColor(const std::shared_ptr<platform::Color>& color);
    // What the user picked, as the preferences store it.
    void pickColor(const QColor& color);

    static QColor toQColor(const std::shared_ptr<platform::Color>& color);

Q_SIGNALS:
    // Only for a colour the user picked.
    void colorChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void openColorDialog();

    std::shared_ptr<platform::Color> color_;
};
