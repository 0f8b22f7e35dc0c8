#pragma once
// QtSplashWindow: the frameless start-up window with the application icon, name and version, and a
// "please wait" line. Made by the program for the controller, which closes it once the local computer is
// ready; owns its widget. Main thread only.

#include "app/model/ApplicationWindows.h"

#include <QRect>

#include <memory>

class QLabel;
class QWidget;

class QtSplashWindow final : public SplashWindow {
public:
    // The content size; the frames below are given y-up from the bottom-left, as the layout was drawn.
    static constexpr int kWidth = 330;
    static constexpr int kHeight = 116;

    QtSplashWindow();
    ~QtSplashWindow() override;

    // Centred on the screen, then raised.
    void show() override;
    void close() override;

    QWidget* window() const { return window_.get(); }
    QLabel* imageView() const { return imageView_; }
    QLabel* titleField() const { return titleField_; }
    QLabel* statusField() const { return statusField_; }

    // A y-up frame inside a parent of `parentHeight`, in Qt's top-left terms.
    static QRect topLeftFrame(int x, int y, int width, int height, int parentHeight)
    {
        return QRect(x, parentHeight - y - height, width, height);
    }

private:
    std::unique_ptr<QWidget> window_;
    QLabel* imageView_ = nullptr; // child of the window
    QLabel* titleField_ = nullptr; // child of the window
    QLabel* statusField_ = nullptr; // child of the window
};
