// The output channels: what every update hands to the sensor window, the screen display, the tray, the
// application icon and the history windows.

#include "app/controller/AppController.h"

#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "platform/foundation/Log.h"

#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QPixmap>

namespace {

// qGuiApp casts whatever application object there is; the benchmarks run with a plain core one.
bool isGuiApplication()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

QColor toQColor(const std::shared_ptr<platform::Color>& color)
{
    if (!color)
        return {};
    return QColor::fromRgbF(color->red(), color->green(), color->blue(), color->alpha());
}

QColor paletteColor(QPalette::ColorRole role, Qt::GlobalColor fallback)
{
    return isGuiApplication() ? QGuiApplication::palette().color(role) : QColor(fallback);
}

QFont fontOf(const MachinePreferences::Font& font)
{
    QFont qfont(font.name);
    if (font.size > 0)
        qfont.setPointSizeF(font.size);
    return qfont;
}

// The entry of an identifier when it has a value.
std::shared_ptr<OutputCacheEntry> valued(const ControllerLookups::OutputCache& cache, const QString& identifier)
{
    const auto entry = cache.value(identifier);
    return entry && entry->hasValue() ? entry : nullptr;
}

} // namespace

void AppController::updateStandardWindow()
{
    if (!localPreferences_ || !standardWindowController_)
        return;
    const MachinePreferences& prefs = *localPreferences_;
    SensorWindow& window = *standardWindowController_;
    window.setBackgroundColor(prefs.standardWindowBackground());
    window.setHasVerticalLayout(prefs.standardWindowVertical());
    window.setBaseFont(prefs.standardWindowFont());
    window.setLabelRatio(prefs.standardWindowFontRatio());
    window.setFixedForegroundColor(prefs.standardWindowUsesForeground() ? prefs.standardWindowForeground() : nullptr);
    window.setAlignment(quint64(prefs.standardWindowAlignment()));
    window.removeAllValues();
    for (const QString& id : std::as_const(localPreferences_->standardWindowSensorNames()))
        if (const auto entry = valued(outputCache_, id))
            window.addStringValue(entry->stringRepresentation(), entry->connectedGauge());
    window.updateWindow();
}

void AppController::updateScreenDisplay()
{
    if (!localPreferences_ || !screenDisplayController_)
        return;
    const MachinePreferences& prefs = *localPreferences_;
    SensorWindow& window = *screenDisplayController_;
    window.setHasVerticalLayout(prefs.screenDisplayVertical());
    window.setBaseFont(prefs.screenDisplayFont());
    window.setLabelRatio(prefs.screenDisplayFontRatio());
    window.setFixedForegroundColor(prefs.screenDisplayUsesForeground() ? prefs.screenDisplayForeground() : nullptr);
    window.setWindowStyle(prefs.screenDisplayIsBackdrop() ? 2 : 1);
    window.setTransparency(prefs.screenDisplayTransparency());
    window.setHasShadow(prefs.screenDisplayHasShadow());
    window.setHasFixedPosition(prefs.screenDisplayIsFixed());
    window.setAlignment(quint64(prefs.screenDisplayAlignment()));
    window.removeAllValues();
    for (const QString& id : std::as_const(localPreferences_->screenDisplaySensorNames()))
        if (const auto entry = valued(outputCache_, id))
            window.addStringValue(entry->stringRepresentation(), entry->connectedGauge());
    window.updateWindow();
}

platform::StatusItem::Title AppController::menuBarTitle(const QStringList& sensorNames, quint64 count,
                                                        const OutputCache& cache, bool shortNames, bool useColor,
                                                        const QColor& textColor)
{
    platform::StatusItem::Title title;
    QColor color = textColor;
    for (quint64 slot = 0; slot < count; ++slot) {
        const auto entry = slot < quint64(sensorNames.size()) ? valued(cache, sensorNames.at(qsizetype(slot))) : nullptr;
        if (!entry) {
            title.append({QStringLiteral(" - "), color, false});
            continue;
        }
        const auto gauge = entry->connectedGauge();
        if (useColor && gauge->presentationColor())
            color = toQColor(gauge->presentationColor());
        const QString lead = slot == 0 ? QString() : QStringLiteral(" ");
        const QString text = shortNames ? lead + gauge->shortName() + QStringLiteral(": ") + entry->stringRepresentation()
                                        : lead + entry->stringRepresentation();
        title.append({text, color, gauge->isInAlertState()});
    }
    return title;
}

void AppController::updateMenuBarDisplay()
{
    if (!localPreferences_)
        return;
    const quint64 n = monitorPreferences_->numberOfMenuBarValues();
    if (n > 0 && !statusItem_)
        statusItem_ = windows_.makeStatusItem();
    else if (n == 0)
        statusItem_.reset();
    if (!statusItem_)
        return;

    const QStringList& names = localPreferences_->menuBarSensorNames();
    QList<std::shared_ptr<OutputCacheEntry>> rest;
    for (qsizetype i = qsizetype(std::min<quint64>(n, quint64(names.size()))); i < names.size(); ++i)
        if (const auto entry = valued(outputCache_, names.at(i)))
            rest.append(entry);
    const auto itemTitle = [](const std::shared_ptr<OutputCacheEntry>& entry) {
        return entry->connectedGauge()->customName() + QStringLiteral(": ") + entry->stringRepresentation();
    };
    const qsizetype k = rest.size();
    if (k > 0 && statusItem_->menuItemCount() != k) {
        QStringList titles;
        for (const auto& entry : std::as_const(rest))
            titles.append(itemTitle(entry));
        statusItem_->setMenuItems(titles);
    } else if (k > 0) {
        // Same count: the items keep their place and only their titles change.
        for (qsizetype m = 0; m < k; ++m)
            statusItem_->setMenuItemTitle(m, itemTitle(rest.at(m)));
    } else if (statusItem_->menuItemCount() > 0) {
        statusItem_->setMenuItems({});
    }

    const auto font = localPreferences_->menuBarFont();
    statusItem_->setTitle(menuBarTitle(names, n, outputCache_, localPreferences_->menuBarDisplaysShortNames(),
                                       localPreferences_->menuBarUsesColor(), paletteColor(QPalette::WindowText, Qt::black)),
                          fontOf(font));
}

void AppController::updateDockDisplay()
{
    DockTile& dock = *windows_.dockTile;
    const quint64 mode = monitorPreferences_->numberOfDockValues();
    dock.setMode(quint8(mode & 0xff));
    if (mode != 0 && localPreferences_) {
        const QStringList& names = localPreferences_->dockSensorNames();
        const auto entry1 = names.size() >= 1 ? outputCache_.value(names.at(0)) : nullptr;
        const auto entry2 = names.size() >= 2 ? outputCache_.value(names.at(1)) : nullptr;
        const auto gauge1 = entry1 ? entry1->connectedGauge() : nullptr;
        const auto gauge2 = entry2 ? entry2->connectedGauge() : nullptr;
        dock.setLiquidCrystalDisplay(!localPreferences_->dockUsesTextDisplay());
        QColor color1, color2;
        if (localPreferences_->dockTextUsesDefaultColors()) {
            color1 = gauge1 ? toQColor(gauge1->presentationColor()) : QColor();
            color2 = gauge2 ? toQColor(gauge2->presentationColor()) : QColor();
        } else {
            color1 = color2 = toQColor(localPreferences_->dockTextColor());
        }
        const QColor highlight = paletteColor(QPalette::Highlight, Qt::blue);
        dock.setLine1Color(color1.isValid() ? color1 : highlight, color2.isValid() ? color2 : highlight);
        const auto text = [](const std::shared_ptr<OutputCacheEntry>& entry, const std::shared_ptr<TEVGauge>& gauge) {
            const QString value = gauge ? entry->stringRepresentation() : QString();
            return value.isEmpty() ? QStringLiteral("-") : value;
        };
        dock.setLine1(text(entry1, gauge1), text(entry2, gauge2));
    }
    const QImage image = dock.dockTileImage();
    if (!image.isNull() && image.cacheKey() != installedDockImage_ && isGuiApplication()) {
        installedDockImage_ = image.cacheKey();
        QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(image)));
    }
}

std::shared_ptr<HistoryWindow> AppController::historyWindowControllerForWindow(const QWidget* window) const
{
    for (const auto& history : historyWindowControllers_)
        if (window && history->window() == window)
            return history;
    return nullptr;
}

std::shared_ptr<HistoryWindow> AppController::overlayHistoryWindowControllerForIdentifier(const QString& identifier) const
{
    if (identifier.isEmpty() || !localPreferences_)
        return nullptr;
    const auto& preferences = localPreferences_->historyWindowPreferences();
    for (qsizetype i = 0; i < preferences.size(); ++i)
        if (preferences.at(i) && preferences.at(i)->overlayIdentifier() == identifier)
            return historyWindowControllers_.value(i);
    return nullptr;
}

bool AppController::getSelectedHistoryWindowPreferences(std::shared_ptr<HistoryWindowPreferences>* preferences,
                                                        qint64* row, qint64* count) const
{
    const QList<qint64> rows = windows_.preferenceWindow->selectedHistoryWindowRows();
    if (rows.size() != 1)
        return false;
    const qint64 selected = rows.first();
    const auto all = localPreferences_ ? localPreferences_->historyWindowPreferences() : MachinePreferences::HistoryWindowList();
    if (selected < 0 || selected >= all.size() || !all.at(selected)) {
        platform::log(QStringLiteral("Internal inconsistency: history window %1 was selected but no preference object "
                                     "available with this index\n")
                          .arg(selected));
        return false;
    }
    if (preferences)
        *preferences = all.at(selected);
    if (row)
        *row = selected;
    if (count)
        *count = all.size();
    return true;
}
