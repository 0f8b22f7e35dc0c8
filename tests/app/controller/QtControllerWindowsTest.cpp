// The controller's own small windows (splash window, warning panel, wait sheet), the bundle resources they
// show, and the program's termination signals, on the offscreen platform.

#include "programs/startup/TerminationSignals.h"
#include "app/controller/AppController.h"
#include "app/controller/QtAlertPanel.h"
#include "app/controller/QtSplashWindow.h"
#include "app/controller/QtWaitSheet.h"
#include "app/controller/QtWarningPanel.h"
#include "framework/TEVApplicationDelegate.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/widgets/QtAlertPresenter.h"
#include "platform/desktop/Scheduler.h"
#include "platform/foundation/Bundle.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;

namespace {

QPoint screenCentre()
{
    return QGuiApplication::primaryScreen()->availableGeometry().center();
}

} // namespace

TEST(QtSplashWindow, LaysOutTheBundlesNameVersionAndIconInTopLeftTerms)
{
    QtSplashWindow splash;
    QWidget* window = splash.window();
    EXPECT_EQ(window->size(), QSize(330, 116));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    // The y-up frames (20, 49, 48, 48), (80, 49, 233, 22) and (17, 20, 296, 17) of a 116 high window.
    EXPECT_EQ(splash.imageView()->geometry(), QRect(20, 19, 48, 48));
    EXPECT_EQ(splash.titleField()->geometry(), QRect(80, 45, 233, 22));
    EXPECT_EQ(splash.statusField()->geometry(), QRect(17, 79, 296, 17));

    EXPECT_EQ(splash.titleField()->text(), QStringLiteral("Kelvaro 0.1.0"));
    EXPECT_EQ(splash.statusField()->text(), QStringLiteral("The application is starting up. Please wait..."));
    EXPECT_TRUE(splash.titleField()->font().bold());
    EXPECT_EQ(splash.titleField()->font().pixelSize(), 18);
    EXPECT_FALSE(splash.statusField()->font().bold());
    EXPECT_EQ(splash.statusField()->font().pixelSize(), 13);
    for (QLabel* field : {splash.titleField(), splash.statusField()}) {
        EXPECT_EQ(field->textInteractionFlags(), Qt::NoTextInteraction);
        EXPECT_FALSE(field->autoFillBackground());
    }
    // The bundle's icon, drawn into the whole frame.
    EXPECT_TRUE(splash.imageView()->hasScaledContents());
    EXPECT_EQ(splash.imageView()->pixmap().size(), QSize(256, 256));
}

TEST(QtSplashWindow, ShowsCentredOnTheScreenUntilClosed)
{
    QtSplashWindow splash;
    EXPECT_FALSE(splash.window()->isVisible());
    splash.show();
    EXPECT_TRUE(splash.window()->isVisible());
    EXPECT_LE((splash.window()->geometry().center() - screenCentre()).manhattanLength(), 1);
    splash.close();
    EXPECT_FALSE(splash.window()->isVisible());
}

TEST(QtAlertPanel, ShowsASensorNameAsTypedNeverAsMarkup)
{
    QtAlertPanel alert;
    const QString message = QStringLiteral("Sensor 'CPU <b>die</b> & R&amp;D' has exceeded a value of 80.");
    alert.showMessage(message);
    EXPECT_TRUE(alert.panel()->isVisible());
    // What is read out is what is drawn: the name with its brackets and ampersands.
    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(alert.alertPanelMessage());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(QAccessible::Name), message);
}

// Shown only when something goes wrong: until then they cost no widget.
TEST(QtAlertPanel, NoPanelIsBuiltBeforeItsFirstMessage)
{
    const auto widgets = QApplication::allWidgets().size();
    QtAlertPanel alert;
    QtWarningPanel warning;
    warning.orderOut();
    EXPECT_EQ(QApplication::allWidgets().size(), widgets);
    alert.showNotice(QStringLiteral("Settings Reset"), QStringLiteral("moved aside"));
    EXPECT_TRUE(alert.panel()->isVisible());
    EXPECT_EQ(alert.panel()->windowTitle(), QStringLiteral("Settings Reset"));
}

// On a desktop with no mail program and no browser (no xdg-open, no $BROWSER) the desktop's opening fails:
// the address is then shown in an alert whose texts can be selected and copied.
TEST(QtAlertPresenter, FeedbackAndWebSiteShowTheirAddressWhenNothingCanOpenThem)
{
    QTemporaryDir emptyPath;
    kt::ScopedEnvironment environment;
    environment.set("PATH", QFile::encodeName(emptyPath.path()));
    environment.unset("BROWSER");
    environment.unset("DEFAULT_BROWSER");
    platform::Workspace::setShared(nullptr);
    platform::AlertPresenter::setShared(std::make_shared<platform::QtAlertPresenter>());
    const auto restore = qScopeGuard([] { platform::AlertPresenter::setShared(nullptr); });
    TEVApplicationDelegate delegate;

    const struct {
        const char* action;
        void (TEVApplicationDelegate::*open)();
        QString message;
        QString address;
    } rows[] = {
        {"feedback", &TEVApplicationDelegate::contactAuthor, "No mail program could be opened. Please write to:",
         "support@kelvaro.example.org"},
        {"web site", &TEVApplicationDelegate::contactWebSite, "No web browser could be opened. The web site is at:",
         "https://kelvaro.example.org/"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.action);
        QStringList selectableTexts;
        QString message;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            message = box->text();
            for (const QLabel* label : box->findChildren<QLabel*>()) {
                if (label->textInteractionFlags() & Qt::TextSelectableByMouse)
                    selectableTexts.append(label->text());
            }
            box->buttons().first()->click();
        });
        poll.start(10);
        (delegate.*row.open)();
        poll.stop();
        EXPECT_EQ(message, row.message);
        EXPECT_TRUE(selectableTexts.contains(row.address)) << selectableTexts.join(QLatin1Char('|')).toStdString();
    }
}

// An alert belongs to a window of the program; that window may go while the alert waits (its computer's
// windows close) and take the alert with it. Nobody chose then: the answer is the one for a dismissed alert,
// never the default button's.
TEST(QtAlertPresenter, AlertTakenAwayWithItsWindowIsAnsweredAsDismissed)
{
    platform::QtAlertPresenter presenter;
    auto* window = new QWidget;
    window->setObjectName(QStringLiteral("sensorWindow"));
    window->show();
    platform::QtAlertPresenter::setFallbackParent([window = QPointer<QWidget>(window)]() -> QWidget* { return window; });
    const auto restore = qScopeGuard([] { platform::QtAlertPresenter::setFallbackParent({}); });
    bool wasChild = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        wasChild = box->parentWidget() == window;
        delete window;
    });
    poll.start(10);
    platform::Alert alert;
    alert.messageText = QStringLiteral("Reconnect to the computer?");
    alert.buttons = {QStringLiteral("Reconnect"), QStringLiteral("Cancel")};
    const int answer = presenter.runModal(alert);
    ASSERT_TRUE(wasChild);
    EXPECT_EQ(answer, 1);
}

TEST(QtWarningPanel, ShowsCentredWithoutBlockingOtherWindowsUntilOrderedOut)
{
    QtWarningPanel warning;
    EXPECT_FALSE(warning.messageField()->text().isEmpty());
    EXPECT_FALSE(warning.informativeField()->text().isEmpty());
    warning.centerAndShow();
    EXPECT_TRUE(warning.panel()->isVisible());
    EXPECT_FALSE(warning.panel()->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_LE((warning.panel()->frameGeometry().center() - screenCentre()).manhattanLength(), 1);
    warning.orderOut();
    EXPECT_FALSE(warning.panel()->isVisible());
    // The relaunch may happen again.
    warning.centerAndShow();
    EXPECT_TRUE(warning.panel()->isVisible());
}

TEST(QtWaitSheet, RunsTheWorkBehindABusyIndicatorThatHoldsBackTheUpdateTimers)
{
    QWidget window;
    window.resize(400, 300);
    window.show();
    bool fired = false;
    auto timer = platform::Scheduler::shared()->afterSeconds(0.5, [&] { fired = true; }, platform::ModalPolicy::WaitWhileModal);
    // Due before the sheet shows: its own turn must not run it.
    kt::clock()->advanceSeconds(1);

    int runs = 0;
    QtWaitSheet::run(&window, [&] {
        ++runs;
        const auto sheets = window.findChildren<QProgressDialog*>();
        ASSERT_EQ(sheets.size(), 1);
        QProgressDialog* sheet = sheets.first();
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
        EXPECT_EQ(sheet->minimum(), 0);
        EXPECT_EQ(sheet->maximum(), 0);
        EXPECT_EQ(platform::AlertPresenter::modalDepth(), 1);
        EXPECT_FALSE(fired);
    });
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(window.findChildren<QProgressDialog*>().isEmpty());
    EXPECT_EQ(platform::AlertPresenter::modalDepth(), 0);
    EXPECT_TRUE(kt::waitFor([&] { return fired; }));
}

TEST(KelvaroBundle, HoldsTheApplicationIconAndTheHardwareSupportLimitAsADate)
{
    const auto bundle = platform::Bundle::main();
    ASSERT_TRUE(bundle);
    const auto data = bundle->imageData(QStringLiteral("NSApplicationIcon"));
    ASSERT_TRUE(data);
    QImage icon;
    ASSERT_TRUE(icon.loadFromData(*data));
    EXPECT_EQ(icon.size(), QSize(256, 256));
    EXPECT_TRUE(icon.hasAlphaChannel());

    // Midday UTC: the same day in every time zone the date is shown in.
    const QDateTime limit(QDate(2027, 1, 1), QTime(12, 0), QTimeZone::utc());
    EXPECT_EQ(AppController::hardwareSupportLimitText(), TEVTimeUtilities::localizedDayRepresentationForDate(limit));
}

TEST(TerminationSignals, HandsEachSignalToTheMainThreadInOrderAndRestoresTheDefaultsWhenGone)
{
    std::vector<int> received;
    {
        TerminationSignals terminationSignals([&](int signal) { received.push_back(signal); });
        ASSERT_TRUE(terminationSignals.install());
        std::raise(SIGHUP);
        std::raise(SIGTERM);
        std::raise(SIGINT);
        // The handler only wrote into the pipe.
        EXPECT_TRUE(received.empty());
        EXPECT_TRUE(kt::waitFor([&] { return received.size() == 3; }));
        EXPECT_EQ(received, (std::vector<int>{SIGHUP, SIGTERM, SIGINT}));
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current = {};
        ASSERT_EQ(sigaction(signal, nullptr, &current), 0);
        EXPECT_EQ(current.sa_handler, SIG_DFL) << signal;
    }
}

TEST(TerminationSignals, AWriteToAFifoWhoseReaderHasGoneFailsWithoutEndingTheProgram)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("node"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // In a child, as a program starts: the test's own process keeps its dispositions.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TerminationSignals::ignoreSignalsOfFailedWrites();
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (reader < 0 || writer < 0)
            ::_exit(2);
        ::close(reader);
        const char report[8] = {0x04, 0x01};
        const bool failedAsAWrite = ::write(writer, report, sizeof report) < 0 && errno == EPIPE;
        ::_exit(failedAsAWrite ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Two alerts at once (the first one's nested loop asks the second): the second waits, hidden, until the first
// is answered, as shown together many desktops put it at the same place, over the question of the first. Each
// answer goes to its own alert.
TEST(QtAlertPresenter, ASecondAlertWaitsUntilTheFirstIsAnswered)
{
    platform::QtAlertPresenter presenter;
    const auto shownBoxes = [] {
        QStringList texts;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
                texts.append(box->text());
        return texts;
    };
    const auto click = [](const QString& title) {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == title)
                return button->click();
        FAIL() << "no button " << title.toStdString();
    };
    platform::Alert first;
    first.messageText = QStringLiteral("The model of this computer is not known");
    first.buttons = {QStringLiteral("OK"), QStringLiteral("Cancel")};
    platform::Alert second;
    second.messageText = QStringLiteral("No accessible sensors found");
    second.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    QList<QStringList> seen;
    int secondAnswer = -1;
    QTimer::singleShot(0, [&] {
        seen.append(shownBoxes());
        QTimer::singleShot(0, [&] {
            seen.append(shownBoxes());
            click(QStringLiteral("Cancel"));
            QTimer::singleShot(0, [&] {
                seen.append(shownBoxes());
                click(QStringLiteral("No"));
            });
        });
        secondAnswer = presenter.runModal(second);
    });
    const int firstAnswer = presenter.runModal(first);
    const QList<QStringList> expected{{first.messageText}, {first.messageText}, {second.messageText}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(firstAnswer, 1);
    EXPECT_EQ(secondAnswer, 1);
    EXPECT_TRUE(shownBoxes().isEmpty());
}
