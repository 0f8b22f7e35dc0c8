#include "windows/info/DisplayInfoDisplay.h"

#include "acquisition/MonitoringClient.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/foundation/Values.h"

#include "ui_DisplayInfo.h"

#include <QCalendar>
#include <QRegularExpression>

namespace values = platform::values;
using infowindows::localized;

DisplayInfoDisplay::DisplayInfoDisplay(ClientPtr client, QString defaultTitle)
    : MonitorWindowController(std::move(client), std::move(defaultTitle))
    , ui_(std::make_unique<Ui_DisplayInfo>())
{
    setWindowMaker([this] {
        auto window = std::make_unique<QWidget>();
        ui_->setupUi(window.get());
        for (QLabel* label : window->findChildren<QLabel*>(QRegularExpression(QStringLiteral("Label$"))))
            label->setText(localized(label->text()));
        ui_->previousButton->setToolTip(localized(QStringLiteral("Previous Display")));
        ui_->nextButton->setToolTip(localized(QStringLiteral("Next Display")));
        QObject::connect(ui_->previousButton, &QPushButton::clicked, window.get(), [this] { browseUnits(0); });
        QObject::connect(ui_->nextButton, &QPushButton::clicked, window.get(), [this] { browseUnits(1); });
        return window;
    });
}

DisplayInfoDisplay::~DisplayInfoDisplay() = default;

void DisplayInfoDisplay::browseUnits(int tag)
{
    // Unsigned on purpose: "previous" from the first wraps, and the cap below makes it the last.
    if (tag != 0)
        ++visibleUnitIndex_;
    else
        --visibleUnitIndex_;
    if (visibleUnitIndex_ >= numberOfBrowsableUnits_)
        visibleUnitIndex_ = numberOfBrowsableUnits_ - 1;
    updateContents();
}

void DisplayInfoDisplay::updateContents()
{
    MonitorWindowController::updateContents();
    const QVariantList displays = monitorClient() ? monitorClient()->displayDescriptions() : QVariantList();
    Ui_DisplayInfo& ui = *ui_;
    if (displays.isEmpty()) {
        ui.headlineField->setText(localized(QStringLiteral("No display connected")));
        for (QLabel* field : {ui.manufacturerField, ui.productIDField, ui.productNameField, ui.additionalInfoField,
                              ui.dateLabel, ui.dateField, ui.serialNumberField})
            field->setText(QString());
        return;
    }
    numberOfBrowsableUnits_ = quint64(displays.size());
    if (visibleUnitIndex_ >= numberOfBrowsableUnits_)
        visibleUnitIndex_ = 0;
    const QVariantMap display = values::toDictionary(displays[qsizetype(visibleUnitIndex_)]).value_or(QVariantMap());
    const auto text = [&display](const char* key) { return values::toString(display.value(QLatin1String(key))).value_or(QString()); };
    const auto hex = [&display](const char* key) {
        const auto code = values::toUnsigned(display.value(QLatin1String(key)));
        return code ? QString::number(*code, 16) : QString();
    };

    ui.headlineField->setText(
        localized(QStringLiteral("Display %llu")).replace(QLatin1String("%llu"), QString::number(visibleUnitIndex_ + 1)));
    const QString makerCode = hex("ManufacturerIDCode");
    ui.manufacturerField->setText(makerCode.isEmpty() ? QString() : QStringLiteral("%1 ('%2')").arg(makerCode, text("ManufacturerID")));
    ui.productIDField->setText(hex("ProductID"));
    QString name = text("ProductName");
    if (name.isEmpty())
        name = text("ProductNameFromOS");
    if (name.isEmpty())
        name = localized(QStringLiteral("unknown"));
    ui.productNameField->setText(name);
    ui.additionalInfoField->setText(text("AdditionalComment"));
    if (const auto made = values::toDate(display.value(QStringLiteral("ManufacturingDate")))) {
        ui.dateLabel->setText(localized(QStringLiteral("Manufacturing Date:")));
        ui.dateField->setText(localized(QStringLiteral("Week of %@"))
                                  .replace(QLatin1String("%@"), TEVTimeUtilities::localizedDayRepresentationForDate(*made)));
    } else {
        ui.dateLabel->setText(localized(QStringLiteral("Model Year:")));
        const auto model = values::toDate(display.value(QStringLiteral("ModelDate")));
        ui.dateField->setText(model ? QString::number(model->date().year(QCalendar(QCalendar::System::Gregorian))) : QString());
    }
    ui.serialNumberField->setText(text("SerialNumber"));
}
