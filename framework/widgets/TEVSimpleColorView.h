#pragma once
// TEVSimpleColorView: a view filled with one colour, copied over what lies below (a translucent colour
// replaces it). Owned by its parent widget; main thread. Changing the colour does not repaint: the owner
// asks for that.

#include <QColor>
#include <QWidget>

#include <mutex>

class TEVSimpleColorView : public QWidget {
    Q_OBJECT
public:
    explicit TEVSimpleColorView(QWidget* parent = nullptr);

    QColor color() const;
    void setColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    mutable std::mutex mutex_;
    QColor color_;
};
