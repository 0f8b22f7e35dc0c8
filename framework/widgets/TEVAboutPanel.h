#pragma once
// TEVAboutPanel: the program's About window: name, version, copyright, the icon with a fading reflection,
// the logo, credits that scroll slowly and endlessly while the window is active, and the slogan link.
// One shared instance kept for the program's lifetime (tests may make their own); main thread, its
// animation timer runs on the main run loop.

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QTextBrowser;
class QTextDocument;
class TEVLinkTextField;
class TEVSimpleColorView;

class TEVAboutPanel : public QWidget {
    Q_OBJECT
public:
    static inline const QString kRestorationIdentifier = QStringLiteral("AboutPanel");
    static constexpr float kAnimationInterval = 0.03f; // seconds per 1-pixel step

    // Created on first use.
    static TEVAboutPanel* standardAboutPanel();
    // Window restoration: the shared panel for "AboutPanel", else no window and the application base's
    // resume-failure error.
    static void restoreWindowWithIdentifier(const QString& identifier,
                                            const std::function<void(QWidget*, std::optional<platform::Error>)>& completionHandler);

    explicit TEVAboutPanel(QWidget* parent = nullptr);
    ~TEVAboutPanel() override;

    // Centres the panel, starts the animation and brings it to the front as the active window.
    void openAboutPanel();
    void closeAboutPanel();

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return animationTimer_.isValid(); }
    // One step: the credits move down by one pixel, or back to the top once they stopped moving.
    void stepAnimation();
    void setCreditsString(const QTextDocument& credits);
    void setCreditsScrollOffset(double offset);
    double creditsScrollOffset() const;

    // Fills the fields from the main bundle.
    void updateContent();

    // The icon's mirrored reflection fading into `background`, `size` large; null without an icon.
    static QImage reflectionImage(const QIcon& icon, const QSize& size, const QColor& background);

    QLabel* applicationNameField() const { return applicationNameField_; }
    QLabel* versionField() const { return versionField_; }
    QLabel* copyrightField() const { return copyrightField_; }
    QLabel* applicationIconEffectView() const { return applicationIconEffectView_; }
    QTextBrowser* creditsText() const { return creditsText_; }
    TEVLinkTextField* sloganLinkField() const { return sloganLinkField_; }

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TEVSimpleColorView* backdrop_ = nullptr;
    QLabel* applicationIconView_ = nullptr;
    QLabel* applicationIconEffectView_ = nullptr;
    QLabel* logoView_ = nullptr;
    QLabel* applicationNameField_ = nullptr;
    QLabel* versionField_ = nullptr;
    QLabel* copyrightField_ = nullptr;
    QTextBrowser* creditsText_ = nullptr; // also the credits' scroll view
    TEVLinkTextField* sloganLinkField_ = nullptr;
    platform::Timer animationTimer_;
    double lastOffset_ = 0;
};
