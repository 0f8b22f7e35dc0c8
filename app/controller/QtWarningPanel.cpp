#include "app/controller/QtWarningPanel.h"

#include "platform/desktop/widgets/QtAlertPresenter.h"
#include "platform/foundation/Bundle.h"

#include <QDialog>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

} // namespace

QtWarningPanel::QtWarningPanel() = default;

// Built when first needed: it is shown only when a computer stops answering.
void QtWarningPanel::ensurePanel()
{
    if (panel_)
        return;
    panel_ = std::make_unique<QDialog>();
    panel_->setObjectName(QStringLiteral("warningPanel"));
    panel_->setModal(false);
    panel_->setWindowTitle(localized(QStringLiteral("Sensor Thread Restart")));

    auto* icon = new QLabel(panel_.get());
    const int side = panel_->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, panel_.get());
    icon->setPixmap(panel_->style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, panel_.get()).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);

    messageField_ = new QLabel(localized(QStringLiteral("The sensor thread is being restarted")), panel_.get());
    messageField_->setObjectName(QStringLiteral("messageField"));
    QFont bold = messageField_->font();
    bold.setBold(true);
    messageField_->setFont(bold);
    informativeField_ = new QLabel(
        localized(QStringLiteral("The operating system did not answer a sensor request in time. Sampling of this computer "
                                 "resumes in a few seconds.")),
        panel_.get());
    informativeField_->setObjectName(QStringLiteral("informativeField"));
    informativeField_->setWordWrap(true);
    for (QLabel* label : {messageField_, informativeField_})
        label->setTextInteractionFlags(Qt::NoTextInteraction);

    auto* texts = new QVBoxLayout;
    texts->addWidget(messageField_);
    texts->addWidget(informativeField_);
    texts->addStretch();
    auto* layout = new QHBoxLayout(panel_.get());
    layout->addWidget(icon);
    layout->addLayout(texts, 1);
    panel_->setFixedWidth(380);
}

QtWarningPanel::~QtWarningPanel() = default;

QDialog* QtWarningPanel::panel()
{
    ensurePanel();
    return panel_.get();
}

QLabel* QtWarningPanel::messageField()
{
    ensurePanel();
    return messageField_;
}

QLabel* QtWarningPanel::informativeField()
{
    ensurePanel();
    return informativeField_;
}

void QtWarningPanel::centerAndShow()
{
    ensurePanel();
    // Placed once shown: the wrapped text's height is known only after the style has polished the labels.
    platform::QtAlertPresenter::setTransientParentOf(panel_.get());
    panel_->show();
    panel_->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // move() places the window frame, whose size is known once shown.
        QRect frame(QPoint(), panel_->frameGeometry().size());
        frame.moveCenter(screen->availableGeometry().center());
        panel_->move(frame.topLeft());
    }
    panel_->raise();
}

void QtWarningPanel::orderOut()
{
    if (panel_)
        panel_->hide();
}
