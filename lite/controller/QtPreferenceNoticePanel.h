#pragma once
// The notice that Kelvaro has written its preferences: a non-modal panel that stays up until closed. Owns its
// dialog. Main thread only.

#include "lite/controller/LiteAppController.h"

#include <memory>

class QDialog;

namespace lite {

class QtPreferenceNoticePanel final : public PreferenceNoticePanel {
public:
    QtPreferenceNoticePanel();
    ~QtPreferenceNoticePanel() override;
    void centerAndShow(const QString& title) override;
    // Asking builds the panel (hidden) when it was never shown.
    QDialog* panel();

private:
    void ensurePanel();

    std::unique_ptr<QDialog> panel_;
};

} // namespace lite
