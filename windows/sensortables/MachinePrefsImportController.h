#pragma once
// MachinePrefsImportController: the modal panel that offers the preferences of another computer of the same
// model to a computer that has none yet. The choice itself lives in MachinePrefsImportChoice; this class
// shows it. Made by the application controller for one dialog; main thread only.

#include "app/model/ApplicationWindows.h"
#include "app/model/MachinePrefsImportChoice.h"

#include <memory>

class QAbstractButton;
class QDialog;
class QTableView;
class QWidget;

class MachinePrefsImportController final : public PreferenceImportPanel {
public:
    // Null when the panel cannot be made.
    static std::shared_ptr<MachinePrefsImportController> create();
    ~MachinePrefsImportController() override;

    // The chosen computer's serial number, or null (declined, nothing selected, or a null list).
    QString runDialogPanelForMachineSpecifiers(const QList<std::shared_ptr<MachineSpecifier>>& specifiers) override;
    QString runDialogPanelForMachineSpecifiers(const std::optional<MachineSpecifier::List>& specifiers);

    bool endedWithoutAnswer() const override { return !answered_; }

    // Ends the modal run with `tag` (the pressed button's) as the response.
    void closePanel(qint64 tag);
    // Takes the table's selected row and enables the import button only with one.
    void selectMachine();

    const MachinePrefsImportChoice& choice() const { return choice_; }
    QDialog* dialogPanel() const;
    QTableView* machineTable() const;
    QWidget* dialogButtons() const;
    // The button of `tag` in the button row; null when there is none.
    QAbstractButton* buttonWithTag(qint64 tag) const;

private:
    MachinePrefsImportController();
    class Model;
    struct Ui;
    MachinePrefsImportChoice choice_;
    std::unique_ptr<QDialog> panel_;
    std::unique_ptr<Ui> ui_;
    Model* model_ = nullptr; // owned by the panel
    bool answered_ = true;
};
