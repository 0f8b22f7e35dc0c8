// The readings of the standard sensor window and the data of a history window saved as text or CSV, and the
// sensor ID report for alert scripts. Every file is written whole or not at all.

#include "app/controller/AppController.h"

#include "acquisition/MonitoringClient.h"
#include "app/model/MachinePreferences.h"
#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/SavePanel.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>

using platform::Alert;

namespace {

QString fill(const QString& format, const QStringList& arguments)
{
    return TEVStringFormat::withObjects(format, arguments);
}

QString csvField(const QString& field)
{
    return TEVStringFormat::quotedCSVField(field.isNull() ? QStringLiteral("") : field,
                                           TEVStringFormat::csvSpecialCharacters());
}

bool writeUTF8(const QString& path, const QString& contents)
{
    const auto written = platform::Paths::writeFileThroughLinks(path, contents.toUtf8());
    if (!written)
        platform::log(QStringLiteral("WARNING: could not write %1: %2\n").arg(path, written.error));
    return bool(written);
}

} // namespace

// --- Contents --------------------------------------------------------------------------------------------

QString AppController::fileContentsForStandardWindowUsingCSVFormat(bool csv) const
{
    // The listed sensors that have a value now, in the window's order.
    QList<std::shared_ptr<OutputCacheEntry>> rows;
    if (localPreferences_) {
        for (const QString& identifier : std::as_const(localPreferences_->standardWindowSensorNames()))
            if (const auto entry = outputCache_.value(identifier); entry && entry->hasValue())
                rows.append(entry);
    }
    // A name that two rows share (a sensor of each of two computers) is told apart by its computer.
    QHash<QString, int> uses;
    for (const auto& entry : std::as_const(rows))
        ++uses[entry->connectedGauge()->customName()];
    const auto rowName = [&uses](const TEVGauge& gauge) {
        const QString name = gauge.customName();
        const QString computer = uses.value(name) > 1 ? gauge.machineName() : QString();
        return computer.isEmpty() ? name : name + QStringLiteral(" (") + computer + QLatin1Char(')');
    };
    QString out;
    if (csv) {
        out = fill(QStringLiteral("%@,%@,%@\n"), {csvField(localized(QStringLiteral("Sensor"))),
                                                  csvField(localized(QStringLiteral("Value"))),
                                                  csvField(localized(QStringLiteral("Unit")))});
        for (const auto& entry : std::as_const(rows)) {
            const auto gauge = entry->connectedGauge();
            double value = gauge->presentationValue();
            // Gone since the cache was filled: the value the window shows rather than a meaningless number.
            if (value == TEVGauge::missingValue)
                value = entry->currentValue();
            // C's "%g" in the C locale: a decimal comma would split the field.
            out += fill(QStringLiteral("%@,%@,%@\n"), {csvField(rowName(*gauge)), TEVStringFormat::withNumber("%g", value),
                                                       csvField(gauge->localizedUnit())});
        }
        return out;
    }
    out = platform::currentDate().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000")) + QStringLiteral("\n\n");
    qsizetype longest = 0;
    for (const auto& entry : std::as_const(rows))
        longest = std::max(longest, rowName(*entry->connectedGauge()).size());
    // Every value starts two columns after the longest name and its colon.
    for (const auto& entry : std::as_const(rows)) {
        const QString name = rowName(*entry->connectedGauge());
        out += name + QLatin1Char(':') + QString(longest - name.size() + 2, QLatin1Char(' ')) + entry->stringRepresentation()
               + QLatin1Char('\n');
    }
    return out;
}

QString AppController::sensorIdentifierReport() const
{
    const QString localName = localClient_ ? localClient_->machineName() : QString();
    QString out = localized(QStringLiteral("Sensor ID Report\n\n"));
    out += fill(localized(QStringLiteral("Created %@ for computer %@.\n\n")),
                {TEVTimeUtilities::localizedDayRepresentationForDate(platform::currentDate()), localName});
    QStringList identifiers = connectedSensorNames_;
    std::sort(identifiers.begin(), identifiers.end());
    for (const QString& identifier : std::as_const(identifiers)) {
        const auto gauge = gaugeForUniversalSensorIdentifier(identifier);
        if (!gauge)
            continue;
        const QString computer = readableRepresentationForClientBelongingToUniversalGaugeIdentifier(identifier);
        const QString where = computer == localName ? localized(QStringLiteral("local computer"))
                                                    : fill(localized(QStringLiteral("remote computer '%@'")), {computer});
        out += fill(QStringLiteral("%@:\t%@ (%@)\n"), {identifier, gauge->customName(), where});
    }
    return out;
}

// --- Panels and files ------------------------------------------------------------------------------------

void AppController::runExportPanel(QWidget* window, const std::function<QString(bool csv)>& contents)
{
    platform::SavePanelOptions options;
    options.fileTypes = {{localized(QStringLiteral("Text")), QStringLiteral("txt")},
                         {localized(QStringLiteral("CSV")), QStringLiteral("csv")}};
    options.selectedFileType = exportFileType_;
    options.window = window;
    const auto chosen = platform::SavePanel::shared()->runModal(options);
    if (!chosen)
        return;
    exportFileType_ = chosen->fileType == 0 ? 0 : 1;
    if (writeUTF8(chosen->path, contents(exportFileType_ != 0)))
        return;
    Alert alert;
    alert.messageText = localized(QStringLiteral("Could not save file"));
    alert.informativeText = fill(localized(QStringLiteral("The file '%@' could not be created.")),
                                 {QFileInfo(chosen->path).fileName()});
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

void AppController::exportStandardSensorReadings()
{
    runExportPanel(standardWindowController_ ? standardWindowController_->window() : nullptr,
                   [this](bool csv) { return fileContentsForStandardWindowUsingCSVFormat(csv); });
}

void AppController::exportHistoryDataForWindowController(const std::shared_ptr<HistoryWindow>& controller)
{
    if (!controller)
        return;
    runExportPanel(controller->window(), [controller](bool csv) {
        return csv ? controller->csvRepresentation() : controller->textRepresentation();
    });
}

void AppController::saveIdentifierReport()
{
    platform::SavePanelOptions options;
    options.title = localized(QStringLiteral("Create sensor ID report for alert scripting"));
    options.prompt = localized(QStringLiteral("Create"));
    options.suggestedName = localized(QStringLiteral("SensorIDReport.txt"));
    options.fileTypes = {{localized(QStringLiteral("Text")), QStringLiteral("txt")}};
    const auto chosen = platform::SavePanel::shared()->runModal(options);
    if (!chosen || writeUTF8(chosen->path, sensorIdentifierReport()))
        return;
    Alert alert;
    alert.messageText = localized(QStringLiteral("The sensor ID report could not be created"));
    alert.informativeText = fill(localized(QStringLiteral(
                                     "The file could not be saved to the location %@. Please verify that you have "
                                     "permission to write to this folder and try again.")),
                                 {chosen->path});
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}
