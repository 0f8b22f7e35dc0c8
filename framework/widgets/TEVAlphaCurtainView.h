#pragma once
// TEVAlphaCurtainView: fades what lies below it to white toward its top and bottom edges, in two strips
// 10 pixels deep (they overlap in a view lower than 20); the middle stays untouched. Owned by its parent
// widget; main thread.

#include <QWidget>

class TEVAlphaCurtainView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCurtainDepth = 10;

    explicit TEVAlphaCurtainView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
