#include "framework/widgets/TEVAboutPanel.h"
#include "framework/widgets/TEVLinkTextField.h"
#include "platform/foundation/Bundle.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

QIcon squareIcon(const QColor& color)
{
    QPixmap pixmap(128, 128);
    pixmap.fill(color);
    return QIcon(pixmap);
}

std::unique_ptr<QTextDocument> lines(int count)
{
    auto document = std::make_unique<QTextDocument>();
    QStringList text;
    for (int i = 0; i < count; ++i)
        text.append(QStringLiteral("Line %1").arg(i));
    document->setPlainText(text.join('\n'));
    return document;
}

class TEVAboutPanelTest : public ::testing::Test {
protected:
    void SetUp() override { QApplication::setWindowIcon(squareIcon(Qt::red)); }
    void TearDown() override { QApplication::setWindowIcon({}); }
};

} // namespace

TEST_F(TEVAboutPanelTest, RendersTheBundlesTextsOnTheBackdrop)
{
    TEVAboutPanel panel;
    EXPECT_EQ(panel.applicationNameField()->text(), QStringLiteral("Kelvaro"));
    EXPECT_EQ(panel.versionField()->text(), QStringLiteral("Version 0.1.0 (Build 1)"));
    EXPECT_TRUE(panel.copyrightField()->text().startsWith(QStringLiteral("Copyright")));
    EXPECT_EQ(panel.sloganLinkField()->stringValue(),
              QStringLiteral("There is no \u201CApp\u201D like that! Definitely not available on the App Store."));
    EXPECT_EQ(panel.sloganLinkField()->linkedURL(), QUrl(QStringLiteral("https://kelvaro.example.org/")));

    const QString credits = panel.creditsText()->document()->toPlainText();
    EXPECT_TRUE(credits.startsWith(QString(8, '\n')));
    EXPECT_TRUE(credits.contains(QStringLiteral("Thanks to everyone")));
    QTextCursor cursor(panel.creditsText()->document());
    cursor.setPosition(10);
    EXPECT_EQ(cursor.charFormat().foreground().color(), panel.palette().color(QPalette::Text));

    QImage image(panel.size(), QImage::Format_ARGB32);
    image.fill(Qt::magenta);
    panel.render(&image);
    const QColor base = panel.palette().color(QPalette::Base);
    EXPECT_EQ(image.pixelColor(panel.width() - 2, panel.height() - 2), base); // the backdrop
    const QRect name = panel.applicationNameField()->geometry();
    bool textDrawn = false;
    for (int x = name.left(); x < name.right() && !textDrawn; ++x)
        for (int y = name.top(); y < name.bottom() && !textDrawn; ++y)
            textDrawn = qGray(image.pixel(x, y)) < qGray(base.rgb()) - 100;
    EXPECT_TRUE(textDrawn);
}

TEST_F(TEVAboutPanelTest, ReflectionFadesIntoTheBackground)
{
    const QImage reflection = TEVAboutPanel::reflectionImage(squareIcon(Qt::red), QSize(64, 40), Qt::white);
    const QColor top = reflection.pixelColor(32, 0);
    EXPECT_GT(top.red(), 200);
    EXPECT_LT(top.green(), 200); // the icon shows through
    EXPECT_EQ(reflection.pixelColor(32, 39), QColor(Qt::white));
    EXPECT_TRUE(TEVAboutPanel::reflectionImage(QIcon(), QSize(64, 40), Qt::white).isNull());
}

TEST_F(TEVAboutPanelTest, CreditsScrollOnePixelPerStepAndRestartAtTheEnd)
{
    TEVAboutPanel panel;
    panel.show();
    panel.setCreditsString(*lines(200));
    QApplication::processEvents();
    const int end = panel.creditsText()->verticalScrollBar()->maximum();
    ASSERT_GT(end, 10);
    panel.stepAnimation();
    panel.stepAnimation();
    EXPECT_EQ(panel.creditsScrollOffset(), 2);
    panel.setCreditsScrollOffset(end);
    panel.stepAnimation(); // still moved since the last step: asks for one more, which the end refuses
    EXPECT_EQ(panel.creditsScrollOffset(), end);
    panel.stepAnimation();
    EXPECT_EQ(panel.creditsScrollOffset(), 1);

    // Credits shorter than the view never move: every step resets to the top and asks for 1.
    panel.setCreditsString(*lines(1));
    QApplication::processEvents();
    for (int step = 0; step < 3; ++step) {
        panel.stepAnimation();
        EXPECT_EQ(panel.creditsScrollOffset(), 0);
    }
}

TEST_F(TEVAboutPanelTest, ScrollingCreditsFadeAtTheirEdgesAndKeepClearOfTheLink)
{
    TEVAboutPanel panel;
    panel.show();
    panel.setCreditsString(*lines(60));
    QApplication::processEvents();
    const QColor base = panel.palette().color(QPalette::Base);
    const QRect credits = panel.creditsText()->geometry();
    const QRect link = panel.sloganLinkField()->geometry();
    EXPECT_GE(link.top() - credits.bottom() - 1, 8) << "room between the credits and the link";
    const int end = panel.creditsText()->verticalScrollBar()->maximum();
    ASSERT_GT(end, 100);
    // At every offset no half-cut line shows at the credits' edges: they hold the backdrop, nearly alone.
    for (int offset = 0; offset <= end; offset += 2) {
        panel.setCreditsScrollOffset(offset);
        QImage image(panel.size(), QImage::Format_ARGB32);
        panel.render(&image);
        int text = 0;
        for (const int y : {credits.top(), credits.top() + 1, credits.bottom() - 1, credits.bottom()})
            for (int x = credits.left(); x <= credits.right(); ++x)
                text += qGray(image.pixel(x, y)) < qGray(base.rgb()) - 40;
        ASSERT_EQ(text, 0) << "text at the credits' edge at offset " << offset;
    }
}

TEST_F(TEVAboutPanelTest, OpeningTwiceRunsOneTimer)
{
    TEVAboutPanel panel;
    panel.setCreditsString(*lines(200));
    panel.openAboutPanel();
    panel.openAboutPanel();
    ASSERT_TRUE(panel.isAnimating());
    QApplication::processEvents();
    const double before = panel.creditsScrollOffset();
    kelvaro::test::clock()->advanceSeconds(0.031);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(panel.creditsScrollOffset(), before + 1);
    panel.closeAboutPanel();
    panel.stopAnimation();
    EXPECT_FALSE(panel.isAnimating());
}

TEST_F(TEVAboutPanelTest, RestorationKnowsOnlyTheAboutPanel)
{
    QWidget* window = reinterpret_cast<QWidget*>(1);
    std::optional<platform::Error> error;
    TEVAboutPanel::restoreWindowWithIdentifier(QStringLiteral("Sensors"), [&](QWidget* w, std::optional<platform::Error> e) {
        window = w;
        error = e;
    });
    EXPECT_EQ(window, nullptr);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, QStringLiteral("com.tarnwell.library"));
    EXPECT_EQ(error->code, 9200);

    TEVAboutPanel::restoreWindowWithIdentifier(TEVAboutPanel::kRestorationIdentifier, [&](QWidget* w, std::optional<platform::Error> e) {
        window = w;
        error = e;
    });
    EXPECT_EQ(window, TEVAboutPanel::standardAboutPanel());
    EXPECT_FALSE(error.has_value());
    delete TEVAboutPanel::standardAboutPanel();
}
