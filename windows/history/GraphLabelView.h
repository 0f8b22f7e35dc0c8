#pragma once
// GraphLabelView: the value-axis labels beside a history graph's scroll view, one centred on each of the
// graph's seven horizontal grid lines. Owned by the history window; main thread.

#include <QPointer>
#include <QWidget>

class QScrollArea;
class TEVHistoryGraph;

class GraphLabelView : public QWidget {
    Q_OBJECT

public:
    explicit GraphLabelView(QWidget* parent = nullptr);

    // Keeps the scroll view and takes its document view as the graph.
    void attachToScrollView(QScrollArea* scrollView);
    TEVHistoryGraph* graphView() const { return graphView_.data(); }

    // The label texts from the bottom line up, and the y (Qt terms, in this view) of each label's centre.
    QStringList labelTexts() const;
    QList<double> labelCentres() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<QScrollArea> partnerScrollView_;
    QPointer<TEVHistoryGraph> graphView_;
};
