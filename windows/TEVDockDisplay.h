#pragma once
// TEVDockDisplay: the application's icon with one or two readings drawn over it: plain text with a shadow
// in each line's colour, or dark digits on a drawn LCD panel. The controller sets the state each tick and
// installs dockTileImage() as the window icon. Made once at launch; main thread.

#include "app/model/ApplicationWindows.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <algorithm>

class TEVDockDisplay final : public DockTile {
public:
    static constexpr int kTileSize = 128;

    TEVDockDisplay();

    // The LCD panels behind one line (1) or two lines (2); drawn once, 128 × 128.
    static QImage lcdBackground(int lines);

    void setDefaultBackground(const QImage& image) override;
    void setMode(quint8 mode) override;
    void setLiquidCrystalDisplay(bool lcd) override;
    void setLine1Color(const QColor& line1, const QColor& line2) override;
    void setLine1(const QString& line1, const QString& line2) override;
    // The same image (same cacheKey()) as long as nothing drawn has changed.
    QImage dockTileImage() const override;
    void restoreApplicationIcon() override;

    quint8 mode() const { return mode_; }
    bool isLiquidCrystalDisplay() const { return lcDisplay_; }
    QString line(int index) const { return lines_[index & 1]; }
    // The font size of the last drawn text (points).
    float lastFontSize() const { return lastFontSize_; }

private:
    QImage drawTile() const;

    bool lcDisplay_ = false;
    quint8 mode_ = 0;
    QString lines_[2];
    QColor colors_[2] = {Qt::black, Qt::black};
    QImage backgrounds_[3];
    mutable float lastFontSize_ = 0;
    // The last drawn tile: the state is set every tick, mostly to what it was.
    mutable QImage drawn_;
};
