#pragma once
// RemoteConnectPanel: the window in which the user chooses remote computers to monitor: one or more that the
// browser found on the network, a typed host and port, or a stored computer list connected whole. It
// connects nothing itself: it hands connection descriptors to its delegate, either program's controller.
// It also edits the computer lists ("ComputerLists" in the program's own standard defaults) in a sheet.
// Made once by the controller on the first command that opens it; main thread only.

#include "app/model/ApplicationWindows.h"
#include "windows/remote/ComputerListPresentationNode.h"
#include "windows/remote/RemoteServiceBrowser.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <memory>

class ComputerListModel;
class MonitorConnectionInfo;
class QAction;
class QDialog;
class QLabel;
class QLineEdit;
class QObject;
class QPushButton;
class QTableView;
class QToolButton;
class QTreeView;
namespace platform {
class UserDefaults;
}

class RemoteConnectPanel final : public RemoteConnectWindow {
public:
    static constexpr quint16 kDefaultPortNumber = ComputerListPresentationNode::kDefaultPortNumber;
    // The tag of the Connect button; Cancel has another.
    static constexpr int kConnectTag = 1;
    static inline const QString kComputerListsKey = QStringLiteral("ComputerLists");

    // Null `browser`: the Bonjour browser of the process's service discovery; null `defaults`: the program's
    // standard user defaults. The browser starts at once, whether or not the panel is ever shown.
    explicit RemoteConnectPanel(std::unique_ptr<RemoteServiceBrowser> browser = {},
                                std::shared_ptr<platform::UserDefaults> defaults = {});
    ~RemoteConnectPanel() override;
    RemoteConnectPanel(const RemoteConnectPanel&) = delete;
    RemoteConnectPanel& operator=(const RemoteConnectPanel&) = delete;

    void setDelegate(const std::weak_ptr<RemoteConnectPanelDelegate>& delegate) override { delegate_ = delegate; }
    std::shared_ptr<RemoteConnectPanelDelegate> delegate() const { return delegate_.lock(); }
    // Runs updateStatus, then brings the window to the front.
    void showWindow() override;

    RemoteServiceBrowser* browser() const { return browser_.get(); }
    const std::shared_ptr<ComputerListRoot>& computerListNodes() const;
    ComputerListModel* computerListModel() const { return listModel_.get(); }
    // Stored lists this run could not read, kept for saving.
    const QVariantMap& unreadableComputerLists() const { return unreadableLists_; }

    // --- The window: loaded on first use (windowDidLoad) ------------------------------------------------------
    QDialog* window();
    QLabel* bonjourProblemMessage();
    QTableView* serviceTable();
    QLineEdit* hostField();
    QLineEdit* portField();
    QPushButton* connectButton();
    QPushButton* cancelButton();
    QToolButton* computerListPopUp();
    QDialog* computerListSheet();
    QTreeView* computerListOutline();

    // --- Connecting ------------------------------------------------------------------------------------------
    void browserDidStopWithError(const platform::Error& error);
    void tableViewSelectionDidChange();
    // The user changed the host or port text.
    void controlTextDidChange();
    void deselectNetServices();
    static bool isPortNumberValid(qint64 port) { return port >= 1024 && port <= 65535; }
    bool isNetServiceConnectPossible();
    bool isManualConnectPossible();
    bool canConnect() { return isNetServiceConnectPossible() || isManualConnectPossible(); }
    void updateStatus();
    // The action of Connect and Cancel, told apart by the sender's tag.
    void closeConnectPanel(QObject* sender);
    void connectSelectedNetServices(QObject* sender);
    // The action of every list item of the pull-down.
    void connectComputerList(QAction* sender);
    void updateComputerListsPullDown();
    // The services selected in the table, in row order.
    QList<platform::NetService> selectedNetServices();

    // --- The computer lists ----------------------------------------------------------------------------------
    void openComputerListSheet();
    // Ends the sheet, which saves the lists.
    void closeComputerListSheet();
    void readComputerListsFromPreferences();
    void saveComputerListsToPreferences();
    void addComputerListNode();
    ComputerListNodePtr addNewComputerList();
    ComputerListNodePtr addNewMemberToComputerListNode(const ComputerListNodePtr& list);
    void addSelectedServicesToList();
    void removeComputerListNode();

    // An error's text for the user; the platform's wording when the error brings none.
    static QString descriptionOfError(const platform::Error& error);

private:
    class ServiceModel;
    struct Ui;
    void windowDidLoad();
    void handOver(const QList<std::shared_ptr<MonitorConnectionInfo>>& infos);
    // The list editor's way of telling a refused edit: the description and the suggestion.
    static void presentListEditorError(const platform::Error& error);
    // The outline's rows as shown, top to bottom.
    QList<ComputerListNodePtr> visibleRows();
    ComputerListNodePtr selectedListNode();

    std::unique_ptr<RemoteServiceBrowser> browser_;
    std::shared_ptr<platform::UserDefaults> defaults_;
    std::weak_ptr<RemoteConnectPanelDelegate> delegate_;
    std::unique_ptr<ComputerListModel> listModel_;
    std::unique_ptr<ServiceModel> serviceModel_;
    QVariantMap unreadableLists_;
    QVariant unreadableListsValue_; // a stored "ComputerLists" that is no dictionary
    QList<platform::Error> listReadRefusals_; // told when the list editor first opens
    // A browsing failure before the window loaded: shown once it has.
    QString bonjourProblem_;
    std::unique_ptr<QDialog> window_;
    std::unique_ptr<Ui> ui_;
};
