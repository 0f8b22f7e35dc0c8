// The history windows' costs: painting a long-term graph of 10 curves × 10080 samples into a window's
// graph area (zoomed out, and unzoomed scrolled to now: a frame should take well under 16 ms), and one
// short-term update tick of 10 open history windows (the curves recomputed from the histories, then
// painted), and the curve labels' layout. Offscreen Qt platform; a fake controller serves the histories.

#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"
#include "tests/support/FakeSensorSource.h"
#include "windows/history/HistoryGraphRules.h"
#include "windows/history/HistoryOverlayWindowController.h"

#include <QApplication>
#include <QImage>
#include <QScrollArea>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

// A temperature sensor in degrees.
class Source final : public kelvaro::test::FakeSensorSource {
public:
    Source() : FakeSensorSource(1, QStringLiteral("C")) {}
};

class Controller final : public ControllerLookups, public HistoryWindowRegistry {
public:
    explicit Controller(int curves)
    {
        for (int c = 0; c < curves; ++c) {
            const QString id = QStringLiteral("sensor.%1").arg(c);
            auto gauge = TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("S1"), source_);
            gauge->setCustomName(id);
            gauge->setPresentationColor(platform::Color::rgb(platform::Color::Space::DeviceRGB, 0.1f * float(c), 0.4f, 0.8f));
            identifiers_.append(id);
            gauges_.insert(id, gauge);
            longTerm_.insert(id, history(10080, c));
            shortTerm_.insert(id, history(380, c));
        }
    }
    static QByteArray history(int samples, int curve)
    {
        std::vector<qint64> raw(static_cast<size_t>(samples));
        for (int i = 0; i < samples; ++i)
            raw[size_t(i)] = i % 997 == 13 ? -1 : qint64(4000 + 800 * std::sin(i / 90.0 + curve) + 37 * (i % 7));
        return QByteArray(reinterpret_cast<const char*>(raw.data()), qsizetype(raw.size() * sizeof(qint64)));
    }
    const QStringList& universalIdentifiersOfConnectedSensors() const override { return identifiers_; }
    std::shared_ptr<TEVGauge> gaugeForUniversalSensorIdentifier(const QString& id) const override { return gauges_.value(id); }
    QByteArray rawHistoryDataBetweenNowAndDate(const QDateTime&, const QString& id, bool longTerm) override
    {
        return (longTerm ? longTerm_ : shortTerm_).value(id);
    }
    double historyTimeDeltaForUniversalGaugeIdentifier(const QString&, bool longTerm) override { return longTerm ? 60 : 2; }
    QList<std::shared_ptr<TEVGauge>> activeGaugesForConnectedClient(const std::shared_ptr<MonitoringClient>&) const override
    {
        return {};
    }
    std::optional<QVariantMap> knownMachineLimitsForConnectedClient(const std::shared_ptr<MonitoringClient>&) override
    {
        return std::nullopt;
    }
    MonitorPreferences* monitorPreferences() const override { return &monitor_; }
    const QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() const override { return windows_; }
    std::shared_ptr<HistoryWindow> overlayHistoryWindowControllerForIdentifier(const QString&) const override { return nullptr; }

    std::shared_ptr<HistoryOverlayWindowController> makeWindow(bool longTerm)
    {
        auto prefs = std::make_shared<HistoryWindowPreferences>();
        prefs->sensorIdentifierList() = identifiers_;
        prefs->setPrefersLongTermMode(longTerm);
        prefs->setPreferredSliderPosition(7);
        auto window = std::make_shared<HistoryOverlayWindowController>();
        window->window()->resize(760, 420);
        window->bindToApplicationController(this, this, prefs);
        window->openWindow();
        windows_.append(window);
        return window;
    }

private:
    std::shared_ptr<Source> source_ = std::make_shared<Source>();
    QStringList identifiers_;
    QMap<QString, std::shared_ptr<TEVGauge>> gauges_;
    QMap<QString, QByteArray> longTerm_, shortTerm_;
    mutable MonitorPreferences monitor_;
    QList<std::shared_ptr<HistoryWindow>> windows_;
};

void paintLongTermGraph(benchmark::State& state, bool zoomedOut)
{
    Controller controller(10);
    auto window = controller.makeWindow(true);
    if (window->isTimeAxisZoomedOut() != zoomedOut)
        window->toggleXZoom();
    QCoreApplication::processEvents();
    TEVHistoryGraph* graph = window->graphView();
    QScrollArea* scroll = window->graphScrollView();
    scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->maximum());
    // What the viewport shows of the graph: the newest part when unzoomed.
    const QRect visible(-graph->x(), 0, scroll->viewport()->width(), scroll->viewport()->height());
    QImage image(visible.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        graph->render(&image, QPoint(), QRegion(visible));
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["graph_width"] = graph->width();
    state.counters["visible_width"] = visible.width();
    state.counters["samples"] = double(graph->numberOfSamples());
}

void BM_PaintLongTermGraphZoomedOut(benchmark::State& state)
{
    paintLongTermGraph(state, true);
}
BENCHMARK(BM_PaintLongTermGraphZoomedOut)->Unit(benchmark::kMillisecond);

void BM_PaintLongTermGraphScrolledToNow(benchmark::State& state)
{
    paintLongTermGraph(state, false);
}
BENCHMARK(BM_PaintLongTermGraphScrolledToNow)->Unit(benchmark::kMillisecond);

void BM_ShortTermTickOfTenWindows(benchmark::State& state)
{
    Controller controller(4);
    QList<std::shared_ptr<HistoryOverlayWindowController>> windows;
    for (int i = 0; i < 10; ++i)
        windows.append(controller.makeWindow(false));
    QCoreApplication::processEvents();
    for (auto _ : state) {
        for (const auto& window : windows)
            if (window->isWindowVisible())
                window->updateWindow();
        // The paints the tick asked for.
        for (const auto& window : windows)
            window->window()->repaint();
    }
}
BENCHMARK(BM_ShortTermTickOfTenWindows)->Unit(benchmark::kMillisecond);

// The curve labels' layout, run at every paint with labels on: the portable's 14 temperatures with two
// overlays (23 labels, all starting at the right edge of a short-term graph, two columns), and 60 labels, more
// than the graph holds.
void BM_CurveLabelLayout(benchmark::State& state)
{
    const QRectF bounds(0, 20, 568, 250);
    std::vector<QRectF> wanted;
    for (int i = 0; i < state.range(0); ++i) {
        const double level = 20 + std::fmod(i * 37.0, 230.0);
        const QSizeF size(60 + (i * 53) % 240, 19);
        wanted.push_back(HistoryGraphRules::visibleRectForDrawingObjectRect(size, QPointF(560, level), 1, bounds));
    }
    const QRectF readout(300, 150, 140, 16);
    for (auto _ : state)
        benchmark::DoNotOptimize(HistoryGraphRules::placeLabels(wanted, bounds, readout));
}
BENCHMARK(BM_CurveLabelLayout)->Arg(23)->Arg(60)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
