#pragma once
// ConnectionWindowController: the window that lists the connected computers with a summary line and lets
// the user ask for a remote one to be disconnected. It reads the application controller's own client list
// at every updateContents; the request goes out as a notification with the client. Main thread only.

#include "app/model/ApplicationWindows.h"

#include <QStringList>

#include <memory>

class QLabel;
class QPushButton;
class QRect;
class QTableView;
class QWidget;

class ConnectionWindowController final : public ConnectionWindow {
public:
    // The table's column identifiers, in their order.
    static const QStringList& columnIdentifiers();

    ConnectionWindowController();
    ~ConnectionWindowController() override;

    void connectToClientList(const ClientList* clients) override;
    void updateContents() override;
    void openWindow() override;
    // The Disconnect button's action: posts the request for the selected row's client.
    void disconnectSelectedSystem();

    // The text of a column for a row of the last update; empty for another column or row.
    QString objectValueForTableColumn(const QString& column, qsizetype row) const;
    qsizetype numberOfRows() const;

    // The window and its parts; asking builds the window (hidden) when it was never shown.
    QWidget* window();
    QTableView* connectionTable();
    QPushButton* disconnectButton();
    QLabel* summaryField();

private:
    class Model;
    void ensureWindow();
    void showContents();
    void tableViewSelectionDidChange();
    void fitWindowToTable();
    // Moved left or up as far as it must for `frame` to show whole on its screen.
    void keepOnScreen(const QRect& frame);

    const ClientList* clientList_ = nullptr;
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<Model> model_;
    struct Ui;
    std::unique_ptr<Ui> ui_;
    quint64 sensorCount_ = 0; // of the last update
};
