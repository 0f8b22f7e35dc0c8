#include "app/controller/QtAlertPanel.h"

#include "platform/desktop/widgets/QtAlertPresenter.h"
#include "platform/foundation/Bundle.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

} // namespace

QtAlertPanel::QtAlertPanel() = default;

// Built at the first message: most sessions never raise one.
void QtAlertPanel::ensurePanel()
{
    if (panel_)
        return;
    panel_ = std::make_unique<QDialog>();
    panel_->setObjectName(QStringLiteral("alertPanel"));
    panel_->setWindowTitle(localized(QStringLiteral("Sensor Alert")));
    panel_->setModal(false);
    auto* layout = new QVBoxLayout(panel_.get());
    // The size of its message, fixed: a tiling compositor floats a window of one size as it does a dialog,
    // where one that may grow becomes a tile the height of the screen.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    message_ = new QLabel(panel_.get());
    message_->setObjectName(QStringLiteral("alertPanelMessage"));
    message_->setTextFormat(Qt::PlainText); // the message holds names the user typed
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setMinimumWidth(360);
    layout->addWidget(message_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, panel_.get());
    QObject::connect(buttons, &QDialogButtonBox::rejected, panel_.get(), &QDialog::hide);
    layout->addWidget(buttons);
}

QtAlertPanel::~QtAlertPanel() = default;

void QtAlertPanel::showMessage(const QString& message)
{
    showNotice(localized(QStringLiteral("Sensor Alert")), message);
}

QDialog* QtAlertPanel::panel()
{
    ensurePanel();
    return panel_.get();
}

QLabel* QtAlertPanel::alertPanelMessage()
{
    ensurePanel();
    return message_;
}

void QtAlertPanel::showNotice(const QString& title, const QString& message)
{
    ensurePanel();
    panel_->setWindowTitle(title);
    message_->setText(message);
    panel_->adjustSize();
    platform::QtAlertPresenter::showInFront(panel_.get());
}
