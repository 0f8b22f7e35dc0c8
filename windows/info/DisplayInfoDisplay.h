#pragma once
// DisplayInfoDisplay: one of the monitored computer's displays at a time (maker, product, name, date,
// serial number), with buttons to browse the others. Refreshed on every tick while visible. Main thread only.

#include "windows/info/MonitorWindowController.h"

#include <memory>

struct Ui_DisplayInfo;

class DisplayInfoDisplay final : public MonitorWindowController {
public:
    DisplayInfoDisplay(ClientPtr client, QString defaultTitle);
    ~DisplayInfoDisplay() override;

    void updateContents() override;
    // Tag 0 shows the previous display, any other tag the next; the index stays below the count.
    void browseUnits(int tag);

    quint64 visibleUnitIndex() const { return visibleUnitIndex_; }
    quint64 numberOfBrowsableUnits() const { return numberOfBrowsableUnits_; }
    const Ui_DisplayInfo& ui() const
    {
        window();
        return *ui_;
    }

private:
    quint64 visibleUnitIndex_ = 0;
    quint64 numberOfBrowsableUnits_ = 0;
    std::unique_ptr<Ui_DisplayInfo> ui_;
};
