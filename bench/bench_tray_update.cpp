// The tray's and the application icon's share of an update tick: three tray slots set every tick, with the
// values unchanged (most ticks) and with one value changed, each followed by the repaint the tick causes;
// and the application icon's drawing and installing with and without a change. Reports the main thread's
// CPU time per tick and that of the whole process (the difference is work on other threads, e.g. Qt's
// pool woken by painting). Under a virtual X server with a tray host it measures the real path:
//   xvfb-run -a sh -c 'trayer & sleep 1; ./bench/bench_tray_update'
// Without a display it runs offscreen, where no tray host docks the icons.

#include "bench/BenchSupport.h"
#include "platform/desktop/widgets/QtStatusItem.h"
#include "windows/TEVDockDisplay.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <time.h>

#include <memory>
#include <vector>

namespace {

platform::StatusItem::Title title(int tick, bool changing)
{
    const QString first = changing ? QStringLiteral("SMC A: %1°C").arg(38 + tick % 2) : QStringLiteral("SMC A: 38°C");
    return {{first, QColor(200, 30, 30), false},
            {QStringLiteral(" SMC B: 33°C"), QColor(30, 120, 30), false},
            {QStringLiteral(" Fan: 1250 rpm"), QColor(30, 30, 200), false}};
}

// One tick's work and the repaints it posts; the counters are per tick.
template <typename Tick>
void measure(benchmark::State& state, Tick tick)
{
    std::vector<double> main, process;
    int n = 0;
    for (auto _ : state) {
        const double mainBefore = bench::cpuMicroseconds(CLOCK_THREAD_CPUTIME_ID);
        const double processBefore = bench::cpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID);
        tick(n++);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        main.push_back(bench::cpuMicroseconds(CLOCK_THREAD_CPUTIME_ID) - mainBefore);
        process.push_back(bench::cpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore);
    }
    state.counters["main_cpu_us"] = bench::median(main);
    state.counters["process_cpu_us"] = bench::median(process);
}

void trayTick(benchmark::State& state, bool changing)
{
    platform::QtStatusItem item;
    QAction quit(QStringLiteral("Quit"));
    item.setTrailingActions({&quit});
    item.setMenuItems({QStringLiteral("SMC CPU: 51°C"), QStringLiteral("Battery: 12.1 V")});
    QFont font(QStringLiteral("Sans Serif"), 14);
    item.setTitle(title(0, false), font);
    // The first drawing and docking is not a tick's.
    QElapsedTimer docking;
    docking.start();
    while (docking.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    measure(state, [&](int n) {
        item.setTitle(title(n, changing), font);
        item.setMenuItemTitle(0, QStringLiteral("SMC CPU: %1°C").arg(51 + (changing ? n % 2 : 0)));
    });
}

void trayTickValuesUnchanged(benchmark::State& state)
{
    trayTick(state, false);
}

void trayTickOneValueChanged(benchmark::State& state)
{
    trayTick(state, true);
}

// As the controller does it: the icon asked for every tick, installed when it reads differently.
void applicationIconTick(benchmark::State& state, bool changing)
{
    TEVDockDisplay dock;
    dock.setDefaultBackground(QIcon::fromTheme(QStringLiteral("computer")).pixmap(128).toImage());
    dock.setMode(1);
    dock.setLiquidCrystalDisplay(true);
    dock.setLine1Color(Qt::blue, Qt::blue);
    QImage installed;
    measure(state, [&](int n) {
        dock.setLine1(changing ? QStringLiteral("%1 %").arg(80 + n % 2) : QStringLiteral("80 %"), QStringLiteral("-"));
        const QImage image = dock.dockTileImage();
        if (image != installed) {
            installed = image;
            QApplication::setWindowIcon(QIcon(QPixmap::fromImage(image)));
        }
    });
}

void applicationIconTickUnchanged(benchmark::State& state)
{
    applicationIconTick(state, false);
}

void applicationIconTickChanged(benchmark::State& state)
{
    applicationIconTick(state, true);
}

} // namespace

BENCHMARK(trayTickValuesUnchanged)->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK(trayTickOneValueChanged)->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK(applicationIconTickUnchanged)->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK(applicationIconTickChanged)->Unit(benchmark::kMicrosecond)->Iterations(300);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The windows of a first launch receive the application icon too.
    std::vector<std::unique_ptr<QWidget>> windows;
    for (int i = 0; i < 3; ++i) {
        windows.push_back(std::make_unique<QWidget>());
        windows.back()->resize(200, 100);
        windows.back()->show();
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
