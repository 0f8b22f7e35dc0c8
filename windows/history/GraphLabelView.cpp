#include "windows/history/GraphLabelView.h"

#include "windows/history/HistoryGraphRules.h"
#include "windows/history/HistoryWindowSupport.h"
#include "windows/history/TEVHistoryGraph.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QScrollArea>

namespace rules = HistoryGraphRules;

GraphLabelView::GraphLabelView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("graphLabelView"));
}

void GraphLabelView::attachToScrollView(QScrollArea* scrollView)
{
    partnerScrollView_ = scrollView;
    graphView_ = scrollView ? qobject_cast<TEVHistoryGraph*>(scrollView->widget()) : nullptr;
}

QStringList GraphLabelView::labelTexts() const
{
    QStringList texts;
    if (!partnerScrollView_ || !graphView_)
        return texts;
    const double step = graphView_->valueRange() / rules::kNumberOfYAxisMarks;
    for (int i = 0; i <= rules::kNumberOfYAxisMarks; ++i)
        texts.append(historywindows::userNumber(rules::valueLabelFormat(step), step * i + graphView_->minimumValue()));
    return texts;
}

QList<double> GraphLabelView::labelCentres() const
{
    QList<double> centres;
    if (!partnerScrollView_ || !graphView_)
        return centres;
    // The grid lines are those of the graph at the top of the scroll view's visible area: the scroll bar
    // below it is what the labels must leave room for.
    const QWidget* viewport = partnerScrollView_->viewport();
    const double top = viewport->mapToGlobal(QPoint(0, 0)).y() - mapToGlobal(QPoint(0, 0)).y();
    const QRectF b = graphView_->graphBounds();
    const double height = graphView_->height();
    for (int i = 0; i <= rules::kNumberOfYAxisMarks; ++i) {
        const double lineUp = b.y() + 1 + (b.height() - 1) * i / rules::kNumberOfYAxisMarks;
        centres.append(top + height - lineUp);
    }
    return centres;
}

void GraphLabelView::paintEvent(QPaintEvent*)
{
    const QStringList texts = labelTexts();
    const QList<double> centres = labelCentres();
    if (texts.isEmpty())
        return;
    QPainter painter(this);
    const QFont font = historywindows::smallSystemFont();
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::WindowText));
    for (qsizetype i = 0; i < texts.size() && i < centres.size(); ++i) {
        const double w = metrics.horizontalAdvance(texts.at(i));
        // The outermost labels stay inside the view rather than half beyond it.
        const double top = std::clamp(centres.at(i) - metrics.height() / 2, 0.0, std::max(0.0, height() - metrics.height()));
        const QRectF box(width() - 1 - w - 2, top, w + 2, metrics.height());
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, texts.at(i));
    }
}
