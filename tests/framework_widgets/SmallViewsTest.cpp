#include "framework/widgets/TEVAlphaCurtainView.h"
#include "framework/widgets/TEVLinkTextField.h"
#include "framework/widgets/TEVSimpleColorView.h"
#include "platform/desktop/Workspace.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

// The widget drawn over an opaque `below`.
QImage render(QWidget& widget, const QColor& below)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(below);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

class RecordingWorkspace final : public platform::Workspace {
public:
    bool openURL(const QUrl& url) override { opened.append(url); return true; }
    bool openFile(const QString&) override { return true; }
    bool launchApplication(const QString&, LaunchFailure* = nullptr) override { return true; }
    bool launchApplicationAtPath(const QString&) override { return true; }
    QIcon iconForFile(const QString&) override { return {}; }
    QList<QUrl> opened;
};

} // namespace

TEST(TEVSimpleColorView, TranslucentColourReplacesWhatIsBelow)
{
    TEVSimpleColorView view;
    view.resize(10, 10);
    view.setColor(QColor(0, 0, 255, 128));
    const QColor pixel = render(view, Qt::red).pixelColor(5, 5);
    EXPECT_EQ(pixel.red(), 0);
    EXPECT_EQ(pixel.blue(), 255);
    EXPECT_NEAR(pixel.alpha(), 128, 1);
}

TEST(TEVAlphaCurtainView, FadesBothEdgesAndLeavesTheMiddle)
{
    TEVAlphaCurtainView tall;
    tall.resize(20, 40);
    const QImage image = render(tall, Qt::black);
    EXPECT_GT(qGray(image.pixel(10, 0)), 230);
    EXPECT_GT(qGray(image.pixel(10, 39)), 230);
    EXPECT_EQ(qGray(image.pixel(10, 20)), 0);
    EXPECT_LT(qGray(image.pixel(10, 9)), 40);  // the strips are 10 pixels deep
    EXPECT_EQ(qGray(image.pixel(10, 11)), 0);

    // Lower than two strips: they overlap, so the middle is whiter than either strip alone makes it.
    TEVAlphaCurtainView low;
    low.resize(20, 12);
    EXPECT_GT(qGray(render(low, Qt::black).pixel(10, 6)), qGray(image.pixel(10, 6)) + 20);
}

TEST(TEVLinkTextField, LinkOnlyWhileAURLIsSet)
{
    const auto workspace = std::make_shared<RecordingWorkspace>();
    platform::Workspace::setShared(workspace);
    TEVLinkTextField field;
    field.setStringValue(QStringLiteral("Fans & <fun>"));
    field.setLinkedURL(QUrl(QStringLiteral("https://www.tarnwell.com/a?b=1&c=2")));
    EXPECT_EQ(field.textFormat(), Qt::RichText);
    EXPECT_TRUE(field.textInteractionFlags() & Qt::LinksAccessibleByMouse);
    EXPECT_TRUE(field.text().contains(QStringLiteral("href=\"https://www.tarnwell.com/a?b=1&amp;c=2\"")));
    EXPECT_TRUE(field.text().contains(QStringLiteral("Fans &amp; &lt;fun&gt;")));
    EXPECT_TRUE(field.text().contains(QStringLiteral("underline")));
    emit field.linkActivated(QStringLiteral("https://www.tarnwell.com/a?b=1&c=2"));
    EXPECT_EQ(workspace->opened, QList<QUrl>{QUrl(QStringLiteral("https://www.tarnwell.com/a?b=1&c=2"))});

    field.setLinkedURL({});
    EXPECT_EQ(field.textFormat(), Qt::PlainText);
    EXPECT_EQ(field.textInteractionFlags(), Qt::NoTextInteraction);
    EXPECT_EQ(field.text(), QStringLiteral("Fans & <fun>"));
    platform::Workspace::setShared(nullptr);
}
