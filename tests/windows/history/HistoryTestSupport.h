#pragma once
// Shared by the history window tests: gauges over a fake sensor source, a fake controller with histories
// and a window list, and windows bound to it.

#include "app/model/ApplicationWindows.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"
#include "tests/support/FakeSensorSource.h"
#include "tests/support/TestEnvironment.h"
#include "windows/history/HistoryOverlayWindowController.h"

#include <QLocale>
#include <QTemporaryDir>

#include <cmath>

namespace historytest {

using FakeSource = kelvaro::test::FakeSensorSource;

inline QByteArray raws(const std::vector<qint64>& values)
{
    return QByteArray(reinterpret_cast<const char*>(values.data()), qsizetype(values.size() * sizeof(qint64)));
}

// Presentation value v is raw v × 100; NaN is no value.
inline QByteArray values(std::initializer_list<double> presentation)
{
    std::vector<qint64> raw;
    for (const double v : presentation)
        raw.push_back(std::isnan(v) ? -1 : qint64(std::llround(v * 100)));
    return raws(raw);
}

class FakeController final : public ControllerLookups, public HistoryWindowRegistry {
public:
    const QStringList& universalIdentifiersOfConnectedSensors() const override { return identifiers; }
    std::shared_ptr<TEVGauge> gaugeForUniversalSensorIdentifier(const QString& id) const override { return gauges.value(id); }
    QByteArray rawHistoryDataBetweenNowAndDate(const QDateTime& date, const QString& id, bool longTerm) override
    {
        requests.append({date, longTerm});
        return histories.value(id);
    }
    double historyTimeDeltaForUniversalGaugeIdentifier(const QString& id, bool longTerm) override
    {
        return gauges.contains(id) ? (longTerm ? 60.0 : 2.0) : 0.0;
    }
    QList<std::shared_ptr<TEVGauge>> activeGaugesForConnectedClient(const std::shared_ptr<MonitoringClient>&) const override
    {
        return {};
    }
    std::optional<QVariantMap> knownMachineLimitsForConnectedClient(const std::shared_ptr<MonitoringClient>&) override
    {
        return std::nullopt;
    }
    MonitorPreferences* monitorPreferences() const override { return &monitor; }
    const QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() const override { return windows; }
    std::shared_ptr<HistoryWindow> overlayHistoryWindowControllerForIdentifier(const QString& identifier) const override
    {
        for (const auto& window : windows)
            if (auto* c = dynamic_cast<HistoryWindowController*>(window.get()); c && !identifier.isEmpty()
                && c->preferences()->overlayIdentifier() == identifier)
                return window;
        return nullptr;
    }

    QStringList identifiers;
    QMap<QString, std::shared_ptr<TEVGauge>> gauges;
    QMap<QString, QByteArray> histories;
    QList<QPair<QDateTime, bool>> requests;
    mutable MonitorPreferences monitor;
    QList<std::shared_ptr<HistoryWindow>> windows;
};

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        const auto plist = [](const QVariantMap& m) { return platform::writePropertyList(m, platform::PlistFormat::Xml); };
        kelvaro::test::writeFile(dir_.path() + "/Info.plist", plist({}));
        kelvaro::test::writeFile(dir_.path() + "/en.lproj/Localizable.strings", plist({{"C", "°C"}, {"rpm", "RPM"}}));
        platform::Bundle::setMain(platform::Bundle::fromDirectory(dir_.path()));
        defaults_ = std::make_shared<platform::UserDefaults>(dir_.path() + "/defaults.plist");
        HistoryOverlayWindowController::setAnimationDuration(0);
    }
    void TearDown() override
    {
        controller_.windows.clear();
        platform::Bundle::setMain(nullptr);
        QLocale::setDefault(QLocale::c());
    }
    std::shared_ptr<TEVGauge> addGauge(const QString& id, const QString& name, qint64 quantity, const QString& unit,
                                       const QByteArray& history)
    {
        sources_.append(std::make_shared<FakeSource>(quantity, unit));
        auto gauge = TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("S1"), sources_.last());
        EXPECT_TRUE(gauge);
        gauge->setCustomName(name);
        gauge->setShortName(name.left(5));
        gauge->setPresentationColor(platform::Color::rgb(platform::Color::Space::DeviceRGB, 0.8f, 0.1f, 0.1f));
        controller_.identifiers.append(id);
        controller_.gauges.insert(id, gauge);
        controller_.histories.insert(id, history);
        return gauge;
    }
    // A window on `identifiers`, bound, in the controller's list.
    std::shared_ptr<HistoryOverlayWindowController> makeWindow(const QString& name, const QStringList& identifiers,
                                                               bool longTerm = false)
    {
        auto prefs = std::make_shared<HistoryWindowPreferences>();
        prefs->setWindowName(name);
        prefs->sensorIdentifierList() = identifiers;
        prefs->setPrefersLongTermMode(longTerm);
        auto window = std::make_shared<HistoryOverlayWindowController>(defaults_);
        window->window()->resize(640, 360);
        window->bindToApplicationController(&controller_, &controller_, prefs);
        controller_.windows.append(window);
        platform::NotificationCenter::defaultCenter().post(HistoryWindow::wasAddedNotification,
                                                           static_cast<const HistoryWindow*>(window.get()));
        return window;
    }

    QTemporaryDir dir_;
    std::shared_ptr<platform::UserDefaults> defaults_;
    QList<std::shared_ptr<FakeSource>> sources_;
    FakeController controller_;
};

} // namespace historytest
