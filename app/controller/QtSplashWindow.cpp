#include "app/controller/QtSplashWindow.h"

#include "framework/TEVStringFormat.h"
#include "platform/desktop/BundleImage.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Values.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace {

QString infoString(const platform::Bundle* bundle, const QString& key)
{
    return bundle ? platform::values::toString(bundle->objectForInfoDictionaryKey(key)).value_or(QString()) : QString();
}

QPixmap applicationIcon(const platform::Bundle* bundle, int side)
{
    QPixmap pixmap = QPixmap::fromImage(platform::bundleImage(bundle, QStringLiteral("NSApplicationIcon")));
    if (pixmap.isNull())
        pixmap = QGuiApplication::windowIcon().pixmap(side, side);
    return pixmap;
}

// The layout's font sizes are in the window's own units: pixel sizes keep text and frames in proportion
// whatever the screen's resolution.
QFont systemFont(int size, bool bold)
{
    QFont font = QApplication::font();
    font.setPixelSize(size);
    font.setBold(bold);
    return font;
}

QLabel* textField(QWidget* parent, const QString& text, const QFont& font, const QRect& frame)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setGeometry(frame);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setFrameShape(QFrame::NoFrame);
    return label;
}

} // namespace

QtSplashWindow::QtSplashWindow()
    // A splash window type: window managers that draw shadows give it one, and it takes no focus.
    : window_(std::make_unique<QWidget>(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint))
{
    window_->setObjectName(QStringLiteral("splashWindow"));
    window_->setFixedSize(kWidth, kHeight);
    const auto bundle = platform::Bundle::main();

    imageView_ = new QLabel(window_.get());
    imageView_->setObjectName(QStringLiteral("imageView"));
    imageView_->setGeometry(topLeftFrame(20, 49, 48, 48, kHeight));
    imageView_->setScaledContents(true);
    imageView_->setPixmap(applicationIcon(bundle.get(), 48));

    const QString title = TEVStringFormat::withObjects(
        QStringLiteral("%@ %@"), {infoString(bundle.get(), QStringLiteral("CFBundleDisplayName")),
                                  infoString(bundle.get(), QStringLiteral("CFBundleShortVersionString"))});
    titleField_ = textField(window_.get(), title, systemFont(18, true), topLeftFrame(80, 49, 233, 22, kHeight));
    titleField_->setObjectName(QStringLiteral("titleField"));

    const QString status = QStringLiteral("The application is starting up. Please wait...");
    statusField_ = textField(window_.get(), bundle ? bundle->localizedString(status) : status, systemFont(13, false),
                             topLeftFrame(17, 20, 296, 17, kHeight));
    statusField_->setObjectName(QStringLiteral("statusField"));
}

QtSplashWindow::~QtSplashWindow() = default;

void QtSplashWindow::show()
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window_->size());
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
    window_->show();
    window_->raise();
}

void QtSplashWindow::close()
{
    window_->hide();
}
