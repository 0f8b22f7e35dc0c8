// The import panel run modally with scripted clicks, and files dropped on the file-name field.

#include "windows/sensortables/MachinePrefsImportController.h"
#include "windows/sensortables/TEVFilenameTextField.h"

#include "app/model/MachineSpecifier.h"
#include "tests/support/TestEnvironment.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

MachineSpecifier::List twoComputers()
{
    const auto list = MachineSpecifier::specifierArrayForDictionaryArray(QVariantList{
        QVariantMap{{QStringLiteral("HostOrComputerName"), QStringLiteral("Lab")}, {QStringLiteral("SerialNumber"), QStringLiteral("S-LAB")}},
        QVariantMap{{QStringLiteral("HostOrComputerName"), QStringLiteral("Office")}, {QStringLiteral("SerialNumber"), QStringLiteral("S-OFF")}},
    });
    return list.value_or(MachineSpecifier::List());
}

} // namespace

TEST(MachinePrefsImportController, AnswersTheSelectedComputerOnlyThroughTheImportButton)
{
    const struct {
        const char* name;
        int row; // -1: none selected
        qint64 pressed;
        QString answer;
    } cases[] = {
        {"import of the second", 1, 1, QStringLiteral("S-OFF")},
        {"declined with a selection", 0, 0, QString()},
        {"closed without a selection", -1, 0, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto panel = MachinePrefsImportController::create();
        ASSERT_TRUE(panel);
        bool importEnabledAtStart = true;
        bool importEnabledAfterSelection = false;
        QTimer::singleShot(0, [&] {
            importEnabledAtStart = panel->buttonWithTag(1)->isEnabled();
            if (c.row >= 0)
                panel->machineTable()->selectRow(c.row);
            importEnabledAfterSelection = panel->buttonWithTag(1)->isEnabled();
            panel->buttonWithTag(c.pressed)->click();
        });
        EXPECT_EQ(panel->runDialogPanelForMachineSpecifiers(twoComputers()), c.answer);
        EXPECT_FALSE(importEnabledAtStart);
        EXPECT_EQ(importEnabledAfterSelection, c.row >= 0);
        EXPECT_FALSE(panel->dialogPanel()->isVisible());
        EXPECT_EQ(panel->machineTable()->model()->data(panel->machineTable()->model()->index(1, 1)).toString(), QStringLiteral("S-OFF"));
    }
    // For people: the panel as it draws, when asked for.
    if (const QString directory = qEnvironmentVariable("KELVARO_SCREENSHOT_DIR"); !directory.isEmpty()) {
        const auto panel = MachinePrefsImportController::create();
        QTimer::singleShot(0, [&] {
            panel->machineTable()->selectRow(0);
            EXPECT_TRUE(panel->dialogPanel()->grab().save(directory + QStringLiteral("/MachinePrefsImport.png")));
            panel->closePanel(0);
        });
        panel->runDialogPanelForMachineSpecifiers(twoComputers());
    }
    // No list: no panel and no answer.
    EXPECT_TRUE(MachinePrefsImportController::create()->runDialogPanelForMachineSpecifiers(std::nullopt).isNull());
}

TEST(MachinePrefsImportController, AQuitWhileTheOfferIsOpenIsNoAnswer)
{
    enum class How { Signal, CtrlQ, Declined };
    const struct {
        const char* name;
        How how;
        bool quit;
    } cases[] = {{"termination signal", How::Signal, true}, {"Ctrl+Q in the panel", How::CtrlQ, true},
                 {"declined", How::Declined, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto panel = MachinePrefsImportController::create();
        ASSERT_TRUE(panel);
        QTimer::singleShot(0, [&] {
            panel->machineTable()->selectRow(0);
            if (c.how == How::Signal)
                QCoreApplication::exit(0); // what a termination signal does
            else if (c.how == How::CtrlQ) {
                // The keys go to the active window, as the user's would.
                panel->dialogPanel()->activateWindow();
                EXPECT_TRUE(QTest::qWaitForWindowActive(panel->dialogPanel()));
                QTest::keyClick(panel->machineTable(), Qt::Key_Q, Qt::ControlModifier);
                // A hang guard: a panel that ignored the keys is closed as declined, and the test fails.
                QTimer::singleShot(10000, panel->dialogPanel(), [&] { panel->buttonWithTag(0)->click(); });
            }
            else
                panel->buttonWithTag(0)->click();
        });
        EXPECT_TRUE(panel->runDialogPanelForMachineSpecifiers(twoComputers()).isNull());
        EXPECT_EQ(panel->endedWithoutAnswer(), c.quit);
        EXPECT_FALSE(panel->dialogPanel()->isVisible());
        if (c.quit) {
            // The exit also stands for loops yet to come; one turn of the application's loop takes it back.
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
            QCoreApplication::exec();
        }
    }
}

TEST(TEVFilenameTextField, TakesTheFirstOfSeveralDroppedFilesAndSendsItsActionOnce)
{
    TEVFilenameTextField field;
    field.setText(QStringLiteral("/old/path"));
    QSignalSpy actions(&field, &TEVFilenameTextField::actionTriggered);
    // As a drag arrives: entering, then the drop, which goes to the widget that took the entry.
    const auto drop = [&](QMimeData& data) {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&field, &enter);
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&field, &event);
        return enter.isAccepted() && event.isAccepted();
    };

    QMimeData text;
    text.setText(QStringLiteral("/not/a/file/name"));
    EXPECT_FALSE(drop(text));
    EXPECT_EQ(field.text(), QStringLiteral("/old/path"));
    EXPECT_EQ(actions.count(), 0);

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a b.app")), QUrl::fromLocalFile(QStringLiteral("/tmp/b")),
                   QUrl::fromLocalFile(QStringLiteral("/tmp/c"))});
    EXPECT_TRUE(drop(files));
    EXPECT_EQ(field.text(), QStringLiteral("/tmp/a b.app"));
    EXPECT_EQ(actions.count(), 1);
}
