#include "framework/widgets/TEVAboutPanel.h"

#include "framework/TEVApplicationDelegate.h"
#include "framework/widgets/TEVLinkTextField.h"
#include "framework/widgets/TEVSimpleColorView.h"
#include "platform/desktop/BundleImage.h"
#include "platform/desktop/widgets/PanelKeys.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Values.h"

#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kIconSize = 128;
constexpr int kReflectionHeight = 48;
constexpr int kCreditsPadding = 8; // line feeds before and after the credits, so they scroll in and out
// The scrolling credits fade in and out over this many points at their edges, and keep this much room from
// the link below, so no half-cut line seems to run into the texts around them.
constexpr int kCreditsFade = 14;
constexpr int kCreditsGap = 10;

// Over the credits: the backdrop's colour at their top and bottom edges, clear between.
class CreditsFade final : public QWidget {
public:
    explicit CreditsFade(QWidget* credits)
        : QWidget(credits)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        credits->installEventFilter(this);
        setGeometry(credits->rect());
        raise();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == parent() && event->type() == QEvent::Resize) {
            setGeometry(parentWidget()->rect());
            raise();
        }
        return false;
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QColor solid = window()->palette().color(QPalette::Base);
        QColor clear = solid;
        clear.setAlpha(0);
        const int fade = std::min(kCreditsFade, height() / 3);
        QLinearGradient top(0, 0, 0, fade);
        top.setColorAt(0, solid);
        top.setColorAt(1, clear);
        painter.fillRect(QRect(0, 0, width(), fade), top);
        QLinearGradient bottom(0, height() - fade, 0, height());
        bottom.setColorAt(0, clear);
        bottom.setColorAt(1, solid);
        painter.fillRect(QRect(0, height() - fade, width(), fade), bottom);
    }
};

// The localised information dictionary (InfoPlist.strings) first, then Info.plist.
std::optional<QString> infoString(const platform::Bundle& bundle, const QString& key)
{
    if (bundle.hasStringTable(QStringLiteral("InfoPlist"))) {
        const QString missing = QStringLiteral("\x01");
        const QString localized = bundle.localizedString(key, missing, QStringLiteral("InfoPlist"));
        if (localized != missing)
            return localized;
    }
    return platform::values::toString(bundle.objectForInfoDictionaryKey(key));
}

QString supportString(const QString& key)
{
    if (const auto delegate = TEVApplicationDelegate::applicationDelegate())
        return delegate->localizedUIPolitenessAgnosticStringForKey(key, {}, TEVApplicationDelegate::kStringTable);
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key, {}, TEVApplicationDelegate::kStringTable) : key;
}

} // namespace

TEVAboutPanel* TEVAboutPanel::standardAboutPanel()
{
    static QPointer<TEVAboutPanel> shared;
    if (!shared)
        shared = new TEVAboutPanel;
    return shared;
}

void TEVAboutPanel::restoreWindowWithIdentifier(const QString& identifier,
                                                const std::function<void(QWidget*, std::optional<platform::Error>)>& completionHandler)
{
    if (identifier == kRestorationIdentifier)
        completionHandler(standardAboutPanel(), std::nullopt);
    else
        completionHandler(nullptr, TEVApplicationDelegate::errorForWindowResumeFailure());
}

TEVAboutPanel::TEVAboutPanel(QWidget* parent)
    : QWidget(parent, Qt::Dialog)
{
    setObjectName(kRestorationIdentifier);
    setWindowTitle(tr("About"));

    // The backdrop sits below every other child; it also repaints behind the scrolling credits.
    backdrop_ = new TEVSimpleColorView(this);
    backdrop_->setColor(palette().color(QPalette::Base));
    backdrop_->lower();

    applicationIconView_ = new QLabel(this);
    applicationIconView_->setFixedSize(kIconSize, kIconSize);
    applicationIconEffectView_ = new QLabel(this);
    applicationIconEffectView_->setFixedSize(kIconSize, kReflectionHeight);
    logoView_ = new QLabel(this);
    applicationNameField_ = new QLabel(this);
    QFont nameFont = applicationNameField_->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.5);
    applicationNameField_->setFont(nameFont);
    versionField_ = new QLabel(this);
    copyrightField_ = new QLabel(this);
    creditsText_ = new QTextBrowser(this);
    creditsText_->setFrameShape(QFrame::NoFrame);
    creditsText_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    creditsText_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    creditsText_->viewport()->setAutoFillBackground(false);
    creditsText_->setAttribute(Qt::WA_TranslucentBackground);
    new CreditsFade(creditsText_);
    sloganLinkField_ = new TEVLinkTextField(this);

    auto* iconColumn = new QVBoxLayout;
    iconColumn->setSpacing(0);
    iconColumn->addWidget(applicationIconView_);
    iconColumn->addWidget(applicationIconEffectView_);
    iconColumn->addStretch();
    auto* textColumn = new QVBoxLayout;
    textColumn->addWidget(logoView_);
    textColumn->addWidget(applicationNameField_);
    textColumn->addWidget(versionField_);
    textColumn->addWidget(copyrightField_);
    textColumn->addWidget(creditsText_, 1);
    auto* top = new QHBoxLayout;
    top->addLayout(iconColumn);
    top->addLayout(textColumn, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addSpacing(kCreditsGap);
    layout->addWidget(sloganLinkField_, 0, Qt::AlignHCenter);
    resize(520, 320);
    // Also the only way to close it where no window manager draws a title bar.
    platform::PanelKeys::installInto(this);

    updateContent();
}

TEVAboutPanel::~TEVAboutPanel()
{
    stopAnimation();
}

void TEVAboutPanel::openAboutPanel()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    startAnimation();
    show();
    raise();
    activateWindow();
}

void TEVAboutPanel::closeAboutPanel()
{
    close();
}

void TEVAboutPanel::startAnimation()
{
    if (animationTimer_.isValid())
        return;
    QPointer<TEVAboutPanel> self(this);
    animationTimer_ = platform::RunLoop::main()->addTimer(
        platform::durationFromSeconds(double(kAnimationInterval)),
        [self] {
            if (self)
                self->stepAnimation();
        },
        true);
}

void TEVAboutPanel::stopAnimation()
{
    animationTimer_.invalidate();
    animationTimer_ = {};
}

void TEVAboutPanel::stepAnimation()
{
    double y = creditsScrollOffset();
    if (std::abs(y - lastOffset_) < 1e-8)
        y = 0; // the credits did not move since the last step: their end is reached
    lastOffset_ = y;
    setCreditsScrollOffset(y + 1);
}

double TEVAboutPanel::creditsScrollOffset() const
{
    return creditsText_ ? double(creditsText_->verticalScrollBar()->value()) : 0.0;
}

void TEVAboutPanel::setCreditsScrollOffset(double offset)
{
    creditsText_->verticalScrollBar()->setValue(int(std::lround(offset)));
    backdrop_->update(creditsText_->geometry());
    creditsText_->viewport()->update();
}

void TEVAboutPanel::setCreditsString(const QTextDocument& credits)
{
    creditsText_->setDocument(credits.clone(creditsText_));
}

void TEVAboutPanel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            startAnimation();
        else
            stopAnimation();
    } else if (event->type() == QEvent::PaletteChange) {
        backdrop_->setColor(palette().color(QPalette::Base));
    }
}

void TEVAboutPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    backdrop_->setGeometry(rect());
}

QImage TEVAboutPanel::reflectionImage(const QIcon& icon, const QSize& size, const QColor& background)
{
    if (icon.isNull() || size.isEmpty())
        return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.save();
    painter.translate(0, size.height());
    painter.scale(1, -1);
    icon.paint(&painter, QRect(QPoint(0, 0), size), Qt::AlignCenter, QIcon::Normal);
    painter.restore();
    // Lines of the background from the top edge down, ever less transparent: the reflection fades out.
    const double h = size.height();
    QColor line = background.toRgb();
    double opacity = 0.2;
    QPen pen;
    pen.setWidthF(2);
    for (double y = 0; y < h; y += 0.5) {
        line.setAlphaF(float(std::min(opacity, 1.0)));
        pen.setColor(line);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, y), QPointF(size.width(), y));
        if (opacity < 1)
            opacity += 1 / h / 1.2;
    }
    return image;
}

void TEVAboutPanel::updateContent()
{
    const auto bundle = platform::Bundle::main();
    if (!bundle)
        return;
    if (const auto name = infoString(*bundle, QStringLiteral("CFBundleName")))
        applicationNameField_->setText(*name);
    if (const auto shortVersion = infoString(*bundle, QStringLiteral("CFBundleShortVersionString"))) {
        QString version = *shortVersion;
        if (const auto build = infoString(*bundle, QStringLiteral("CFBundleVersion")))
            version += supportString(QStringLiteral(" (Build %@)")).replace(QStringLiteral("%@"), *build);
        versionField_->setText(supportString(QStringLiteral("Version %@")).replace(QStringLiteral("%@"), version));
    }
    if (const auto copyright = infoString(*bundle, QStringLiteral("NSHumanReadableCopyright")))
        copyrightField_->setText(*copyright);

    const QIcon icon = QGuiApplication::windowIcon();
    if (!icon.isNull()) {
        applicationIconView_->setPixmap(icon.pixmap(applicationIconView_->size()));
        applicationIconEffectView_->setPixmap(QPixmap::fromImage(
            reflectionImage(icon, applicationIconEffectView_->size(), palette().color(QPalette::Base))));
    }
    if (const QImage logo = platform::bundleImage(bundle.get(), QStringLiteral("TEVLogo")); !logo.isNull())
        logoView_->setPixmap(QPixmap::fromImage(logo));

    if (const auto path = bundle->pathForResource(QStringLiteral("Credits"), QStringLiteral("html"))) {
        QFile file(*path);
        if (file.open(QIODevice::ReadOnly)) {
            QTextDocument credits;
            credits.setHtml(QString::fromUtf8(file.readAll()));
            QTextCursor cursor(&credits);
            const QString padding(kCreditsPadding, QLatin1Char('\n'));
            cursor.insertText(padding);
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(padding);
            // Only the text colour, so the credits read on the backdrop whatever the file says.
            cursor.select(QTextCursor::Document);
            QTextCharFormat format;
            format.setForeground(palette().color(QPalette::Text));
            cursor.setCharFormat(format);
            setCreditsString(credits);
        }
    }

    sloganLinkField_->setStringValue(QStringLiteral("There is no \u201CApp\u201D like that! Definitely not available on the App Store."));
    sloganLinkField_->setLinkedURL(QUrl(supportString(QStringLiteral("URL_FULLSOFTWARE"))));
}
