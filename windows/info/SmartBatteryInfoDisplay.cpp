#include "windows/info/SmartBatteryInfoDisplay.h"

#include "acquisition/MonitoringClient.h"
#include "framework/CDP.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/foundation/Values.h"

#include "ui_SmartBatteryInfo.h"

#include <QLocale>
#include <QRegularExpression>

namespace values = platform::values;
using infowindows::localized;

SmartBatteryInfoDisplay::SmartBatteryInfoDisplay(ClientPtr client, QString defaultTitle)
    : MonitorWindowController(std::move(client), std::move(defaultTitle))
    , ui_(std::make_unique<Ui_SmartBatteryInfo>())
{
    setWindowMaker([this] {
        auto window = std::make_unique<QWidget>();
        ui_->setupUi(window.get());
        for (QLabel* label : window->findChildren<QLabel*>(QRegularExpression(QStringLiteral("Label$"))))
            label->setText(localized(label->text()));
        return window;
    });
}

SmartBatteryInfoDisplay::~SmartBatteryInfoDisplay() = default;

QString SmartBatteryInfoDisplay::localizedNumberFormat(const QString& format, double value)
{
    static const QRegularExpression conversion(QStringLiteral("%(0?)(\\d*)\\.(\\d*)f"));
    QString text = format;
    const QRegularExpressionMatch match = conversion.match(text);
    if (match.hasMatch()) {
        const int width = match.captured(2).toInt();
        const int precision = match.captured(3).toInt();
        QString number = QLocale().toString(value, 'f', precision);
        const QChar pad = match.captured(1).isEmpty() ? QLatin1Char(' ') : QLatin1Char('0');
        if (number.size() < width)
            number = number.rightJustified(width, pad);
        text.replace(match.capturedStart(), match.capturedLength(), number);
    }
    return text.replace(QLatin1String("%%"), QLatin1String("%"));
}

QString SmartBatteryInfoDisplay::localizedStringForBatteryStatus(const std::optional<QVariantMap>& readouts, int bit)
{
    if (!readouts)
        return {};
    const quint64 status = values::toUnsigned(readouts->value(QStringLiteral("BatteryStatus"))).value_or(0);
    return localized((status >> bit) & 1u ? QStringLiteral("Yes") : QStringLiteral("No"));
}

void SmartBatteryInfoDisplay::showNoBattery()
{
    window();
    Ui_SmartBatteryInfo& ui = *ui_;
    ui.headlineField->setText(localized(QStringLiteral("No battery available")));
    for (QLabel* field : {ui.batteryNameField, ui.serialNumberField, ui.manufacturerField, ui.manufacturingDateField,
                          ui.voltageField, ui.currentField, ui.temperatureField, ui.currentCapacityField,
                          ui.capacityPercentageField, ui.chargerConnectedStatusField, ui.chargingStatusField,
                          ui.reserveStatusField, ui.chargeCyclesField, ui.totalCapacityField, ui.originalCapacityField,
                          ui.capacityHealthPercentageField, ui.cell1VoltageLabel, ui.cell1VoltageField})
        field->setText(QString());
    ui.capacityLevelIndicator->setValue(0);
    ui.capacityHealthLevelIndicator->setValue(0);
    ui.cell1VoltageIndicator->setValue(0);
    ui.cell1VoltageIndicator->show();
    ui.cell1VoltageLabel->show();
    ui.cell1VoltageField->show();
    for (QWidget* widget : {static_cast<QWidget*>(ui.cell2VoltageLabel), static_cast<QWidget*>(ui.cell2VoltageIndicator),
                            static_cast<QWidget*>(ui.cell2VoltageField), static_cast<QWidget*>(ui.cell3VoltageLabel),
                            static_cast<QWidget*>(ui.cell3VoltageIndicator), static_cast<QWidget*>(ui.cell3VoltageField),
                            static_cast<QWidget*>(ui.cell4VoltageLabel), static_cast<QWidget*>(ui.cell4VoltageIndicator),
                            static_cast<QWidget*>(ui.cell4VoltageField)})
        widget->hide();
}

void SmartBatteryInfoDisplay::updateContents()
{
    MonitorWindowController::updateContents();
    const auto& client = monitorClient();
    const auto readouts = client && client->numberOfAvailableBatteryUnits() > 0 ? client->batteryReadoutsAtIndex(0) : std::nullopt;
    if (!readouts) {
        showNoBattery();
        return;
    }
    Ui_SmartBatteryInfo& ui = *ui_;
    const auto text = [&](const char* key) { return values::toString(readouts->value(QLatin1String(key))).value_or(QString()); };
    const auto number = [&](const char* key) { return values::toReal(readouts->value(QLatin1String(key))); };
    // A missing value shows as an empty field.
    const auto formatted = [&](const char* format, const char* key) {
        const auto value = number(key);
        return value ? localizedNumberFormat(localized(QLatin1String(format)), *value) : QString();
    };

    ui.headlineField->setText(localized(QStringLiteral("Smart Battery Unit")));
    ui.batteryNameField->setText(text("BatteryDevice"));
    ui.serialNumberField->setText(text("SerialNumber"));
    ui.manufacturerField->setText(text("Manufacturer"));
    const auto date = values::toDate(readouts->value(QStringLiteral("ManufacturingDate")));
    ui.manufacturingDateField->setText(date ? TEVTimeUtilities::localizedDayRepresentationForDate(*date) : QString());
    ui.voltageField->setText(formatted("%03.3f V", "Voltage"));
    ui.currentField->setText(formatted("%03.3f A", "Amperage"));
    const auto temperature = number("BatteryTemperature");
    ui.temperatureField->setText(temperature ? CDP::displayTextForCentigrade(*temperature) : QString());
    ui.currentCapacityField->setText(formatted("%4.f mAh", "CurrentCapacity"));
    ui.totalCapacityField->setText(formatted("%4.f mAh", "TotalCapacity"));
    ui.originalCapacityField->setText(formatted("%4.f mAh", "MaximumCapacity"));

    // A ratio over a zero (or missing) whole has no percentage.
    const auto percentage = [&](const char* part, const char* whole, QLabel* field, QProgressBar* indicator) {
        const double denominator = number(whole).value_or(0);
        if (denominator == 0) {
            field->setText(QString());
            indicator->setValue(0);
            return;
        }
        const double p = number(part).value_or(0) / denominator * 100.0;
        field->setText(localizedNumberFormat(localized(QStringLiteral("%3.f %%")), p));
        indicator->setValue(int(qBound(0.0, p, double(indicator->maximum()))));
    };
    percentage("CurrentCapacity", "TotalCapacity", ui.capacityPercentageField, ui.capacityLevelIndicator);
    percentage("TotalCapacity", "MaximumCapacity", ui.capacityHealthPercentageField, ui.capacityHealthLevelIndicator);

    ui.chargerConnectedStatusField->setText(localizedStringForBatteryStatus(readouts, 0));
    ui.chargingStatusField->setText(localizedStringForBatteryStatus(readouts, 1));
    ui.reserveStatusField->setText(localizedStringForBatteryStatus(readouts, 4));
    const auto cycles = values::toSigned(readouts->value(QStringLiteral("ChargeCycles")));
    ui.chargeCyclesField->setText(cycles ? QString::number(*cycles) : QString());

    const QVariantList cells = values::toArray(readouts->value(QStringLiteral("CellVoltages"))).value_or(QVariantList());
    QLabel* const labels[] = {ui.cell1VoltageLabel, ui.cell2VoltageLabel, ui.cell3VoltageLabel, ui.cell4VoltageLabel};
    QProgressBar* const indicators[] = {ui.cell1VoltageIndicator, ui.cell2VoltageIndicator, ui.cell3VoltageIndicator,
                                        ui.cell4VoltageIndicator};
    QLabel* const fields[] = {ui.cell1VoltageField, ui.cell2VoltageField, ui.cell3VoltageField, ui.cell4VoltageField};
    for (int n = 0; n < 4; ++n) {
        const bool present = n < cells.size();
        if (n == 0)
            labels[0]->setText(localized(present ? QStringLiteral("Cell 1:") : QStringLiteral("not available")));
        else
            labels[n]->setVisible(present);
        indicators[n]->setVisible(present);
        fields[n]->setVisible(present);
        if (!present) {
            indicators[n]->setValue(0);
            continue;
        }
        const double volts = values::toReal(cells[n]).value_or(0);
        indicators[n]->setValue(int(qBound(0.0, volts * 1000.0, double(indicators[n]->maximum()))));
        fields[n]->setText(localizedNumberFormat(localized(QStringLiteral("%03.3f V")), volts));
    }
}
