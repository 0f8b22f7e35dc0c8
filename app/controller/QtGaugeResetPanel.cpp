#include "app/controller/QtGaugeResetPanel.h"

#include "app/controller/ControllerCore.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/widgets/PanelKeys.h"
#include "platform/desktop/widgets/QtAlertPresenter.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QDialog* QtGaugeResetPanel::make(std::function<void(std::optional<GaugeResetChoice>)> choose)
{
    auto* panel = new QDialog;
    panel->setObjectName(QStringLiteral("gaugeResetPanel"));
    panel->setWindowTitle(ControllerCore::localized(QStringLiteral("Reset All Sensors")));
    auto* layout = new QVBoxLayout(panel);
    layout->addWidget(new QLabel(ControllerCore::localized(QStringLiteral("Reset these settings of all sensors to their defaults:")), panel));
    auto* switches = new QWidget(panel);
    switches->setObjectName(QStringLiteral("gaugeResetSwitches"));
    auto* column = new QVBoxLayout(switches);
    // Rows in this order: names, short names, spoken names, enabled states, formats, colours.
    const QStringList titles = {QStringLiteral("Names"), QStringLiteral("Short names"), QStringLiteral("Spoken names"),
                                QStringLiteral("Enabled states"), QStringLiteral("Formats"), QStringLiteral("Colors")};
    QList<QCheckBox*> boxes;
    for (const QString& title : titles) {
        auto* box = new QCheckBox(ControllerCore::localized(title), switches);
        // Nothing is reset unless chosen.
        box->setChecked(false);
        column->addWidget(box);
        boxes.append(box);
    }
    layout->addWidget(switches);
    auto* buttons = new QDialogButtonBox(panel);
    buttons->addButton(QDialogButtonBox::Cancel);
    QPushButton* reset = buttons->addButton(ControllerCore::localized(QStringLiteral("Reset")), QDialogButtonBox::AcceptRole);
    reset->setDefault(true);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, panel, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, panel, &QDialog::reject);
    platform::PanelKeys::installInto(panel, [panel] { panel->reject(); });
    QObject::connect(panel, &QDialog::finished, panel, [boxes, choose](int code) {
        if (code == QDialog::Rejected) {
            choose(std::nullopt);
            return;
        }
        GaugeResetChoice c;
        c.customNames = boxes[0]->isChecked();
        c.shortNames = boxes[1]->isChecked();
        c.spokenNames = boxes[2]->isChecked();
        c.enabledStates = boxes[3]->isChecked();
        c.formats = boxes[4]->isChecked();
        c.colors = boxes[5]->isChecked();
        choose(c);
    });
    return panel;
}

std::optional<GaugeResetChoice> QtGaugeResetPanel::run()
{
    std::optional<GaugeResetChoice> answer;
    std::unique_ptr<QDialog> panel(make([&answer](std::optional<GaugeResetChoice> choice) { answer = choice; }));
    // Counted as a modal alert: the tick and delayed work wait until the panel is closed.
    const platform::AlertPresenter::ModalScope modal;
    platform::QtAlertPresenter::setTransientParentOf(panel.get());
    panel->exec();
    return answer;
}
