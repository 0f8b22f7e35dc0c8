#pragma once
// AlertPresenter: shows a modal alert and answers the button the user chose; also the system beep. One
// process-wide presenter (the Qt one unless a test installs a scripted one); main thread only.

#include "platform/foundation/Error.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace platform {

struct Alert {
    enum class Style { Warning, Informational, Critical };

    QString messageText;
    QString informativeText;
    QStringList buttons; // first is the default; none means one "OK"
    Style style = Style::Warning;
    // The texts can be selected and copied (an address the user has to take elsewhere).
    bool selectableText = false;

    // The alert the platform shows for a failed operation: its description and one "OK".
    static Alert forError(const Error& error);
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    // The index into alert.buttons of the chosen button (0 = first); 0 when the alert had no buttons or was
    // closed without a choice, as the default button would.
    virtual int runModal(const Alert& alert) = 0;
    virtual void beep() = 0;

    // Counts its modal alerts (modalDepth) around the installed presenter's, whichever that is.
    static std::shared_ptr<AlertPresenter> shared();
    // Null returns to the headless presenter.
    static void setShared(std::shared_ptr<AlertPresenter> presenter);

    // Modal alerts under way on the main thread. Qt's modal loops still fire timers and queued calls; work
    // that must not run inside an alert waits until this is back to zero.
    static int modalDepth();
    // Called on the main thread each time modalDepth falls back to zero; returns an id for the removal.
    static int addModalEndListener(std::function<void()> listener);
    static void removeModalEndListener(int id);

    // Counts one modal alert for its lifetime.
    class ModalScope {
    public:
        ModalScope();
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;
    };
};

// Used until a program with widgets installs its own: nobody can be asked, so the default button answers.
class HeadlessAlertPresenter final : public AlertPresenter {
public:
    int runModal(const Alert& alert) override;
    void beep() override {}
};

} // namespace platform
