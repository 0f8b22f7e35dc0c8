// The save panel of the programs with widgets: where it opens.

#include "platform/desktop/widgets/QtSavePanel.h"
#include "tests/support/ScopedEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

// A panel with no folder of its own opens in the home folder, never in the folder the program was started
// from; the next one opens where the last was confirmed.
TEST(QtSavePanel, OpensInTheHomeFolderThenWhereTheLastWasConfirmed)
{
    QTemporaryDir home, started, chosen;
    kelvaro::test::ScopedEnvironment environment;
    environment.set("HOME", QFile::encodeName(home.path()));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(started.path()));
    platform::QtSavePanel panel;
    platform::SavePanelOptions options;
    options.fileTypes = {{QStringLiteral("Text"), QStringLiteral("txt")}};
    // Each run: where the panel opened, then the answer.
    const auto run = [&](const std::function<void(QFileDialog&)>& answer) {
        QString opened;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            poll.stop();
            opened = QDir(dialog->directory()).canonicalPath();
            answer(*dialog);
        });
        poll.start(10);
        const auto result = panel.runModal(options);
        return std::pair(opened, result);
    };
    const auto [first, cancelled] = run([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(first, QDir(home.path()).canonicalPath());
    EXPECT_FALSE(cancelled);
    const auto [second, saved] = run([&](QFileDialog& dialog) {
        dialog.setDirectory(chosen.path());
        dialog.selectFile(chosen.filePath(QStringLiteral("readings.txt")));
        static_cast<QDialog&>(dialog).accept();
    });
    ASSERT_TRUE(saved);
    EXPECT_EQ(QDir(QFileInfo(saved->path).absolutePath()).canonicalPath(), QDir(chosen.path()).canonicalPath());
    const auto [third, again] = run([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(third, QDir(chosen.path()).canonicalPath());
    // A folder of its own wins.
    options.directory = started.path();
    const auto [fourth, own] = run([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(fourth, QDir(started.path()).canonicalPath());
    QDir::setCurrent(before);
}
