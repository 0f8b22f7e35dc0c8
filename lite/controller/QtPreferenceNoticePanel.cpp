#include "lite/controller/QtPreferenceNoticePanel.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace lite {

QtPreferenceNoticePanel::QtPreferenceNoticePanel() = default;

// Built when Kelvaro first writes its preferences during this run, if ever.
void QtPreferenceNoticePanel::ensurePanel()
{
    if (panel_)
        return;
    panel_ = std::make_unique<QDialog>();
    panel_->setModal(false);
    auto* layout = new QVBoxLayout(panel_.get());
    auto* text = new QLabel(QStringLiteral("The preferences of Kelvaro have changed.\n\nKelvaro Lite goes on with the "
                                           "preferences it read at its start. Quit and start Kelvaro Lite again to use "
                                           "the new ones."),
                            panel_.get());
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, panel_.get());
    QObject::connect(buttons, &QDialogButtonBox::accepted, panel_.get(), &QDialog::close);
    layout->addWidget(buttons);
}

QtPreferenceNoticePanel::~QtPreferenceNoticePanel() = default;

QDialog* QtPreferenceNoticePanel::panel()
{
    ensurePanel();
    return panel_.get();
}

void QtPreferenceNoticePanel::centerAndShow(const QString& title)
{
    ensurePanel();
    panel_->setWindowTitle(title);
    panel_->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = panel_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        panel_->move(frame.topLeft());
    }
    panel_->show();
    panel_->raise();
}

} // namespace lite
