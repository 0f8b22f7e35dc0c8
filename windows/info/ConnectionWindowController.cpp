#include "windows/info/ConnectionWindowController.h"

#include "acquisition/MonitoringClient.h"
#include "platform/desktop/widgets/PanelKeys.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "windows/WindowFrameRecord.h"
#include "windows/WindowPlacement.h"
#include "windows/info/MonitorWindowController.h"

#include "ui_ConnectionWindow.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLayout>
#include <QScreen>
#include <QStyle>

#include <algorithm>

using infowindows::localized;

namespace {

QString modelName(const QString& code)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(code, {}, QStringLiteral("ModelCodes")) : code;
}

} // namespace

struct ConnectionWindowController::Ui : Ui_ConnectionWindow {};

// The rows of the last update, so that painting never waits for a computer.
class ConnectionWindowController::Model final : public QAbstractTableModel {
public:
    struct Row {
        std::shared_ptr<MonitoringClient> client;
        QStringList texts; // by column
    };

    void setRows(QList<Row> rows)
    {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    const QList<Row>& rows() const { return rows_; }

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(rows_.size()); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(columnIdentifiers().size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_.size())
            return {};
        return rows_[index.row()].texts.value(index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char* const kTitles[] = {"Name", "Type", "Serial Number", "Host Name", "Sensors"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= int(std::size(kTitles)))
            return {};
        return localized(QLatin1String(kTitles[section]));
    }

private:
    QList<Row> rows_;
};

const QStringList& ConnectionWindowController::columnIdentifiers()
{
    static const QStringList identifiers = {QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Serial"),
                                            QStringLiteral("Hostname"), QStringLiteral("Sensors")};
    return identifiers;
}

ConnectionWindowController::ConnectionWindowController()
    : model_(std::make_unique<Model>())
{
}

// Built when first shown or asked for: most sessions never open it, and a table view is a costly widget to keep.
void ConnectionWindowController::ensureWindow()
{
    if (window_)
        return;
    window_ = std::make_unique<QWidget>();
    ui_ = std::make_unique<Ui>();
    ui_->setupUi(window_.get());
    window_->setWindowTitle(localized(QStringLiteral("Connected Computers")));
    ui_->disconnectButton->setText(localized(QStringLiteral("Disconnect")));
    ui_->connectionTable->setModel(model_.get());
    ui_->connectionTable->verticalHeader()->hide();
    ui_->connectionTable->horizontalHeader()->setStretchLastSection(true);
    QObject::connect(ui_->connectionTable->selectionModel(), &QItemSelectionModel::selectionChanged, window_.get(),
                     [this] { tableViewSelectionDidChange(); });
    QObject::connect(model_.get(), &QAbstractItemModel::modelReset, window_.get(), [this] { tableViewSelectionDidChange(); });
    QObject::connect(ui_->disconnectButton, &QPushButton::clicked, window_.get(), [this] { disconnectSelectedSystem(); });
    platform::PanelKeys::installInto(window_.get());
    showContents();
    tableViewSelectionDidChange();
    WindowFrameRecord::attach(window_.get(), QStringLiteral("ConnectedComputers"),
                              WindowPlacement::cascadeTopLeft(WindowPlacement::ConnectionsSlot, WindowPlacement::currentScreens()));
}

ConnectionWindowController::~ConnectionWindowController()
{
    // The view goes before the model it shows.
    window_.reset();
}

QWidget* ConnectionWindowController::window()
{
    ensureWindow();
    return window_.get();
}

QTableView* ConnectionWindowController::connectionTable()
{
    ensureWindow();
    return ui_->connectionTable;
}

QPushButton* ConnectionWindowController::disconnectButton()
{
    ensureWindow();
    return ui_->disconnectButton;
}

QLabel* ConnectionWindowController::summaryField()
{
    ensureWindow();
    return ui_->summaryField;
}

void ConnectionWindowController::connectToClientList(const ClientList* clients)
{
    clientList_ = clients;
    updateContents();
}

void ConnectionWindowController::updateContents()
{
    QList<Model::Row> rows;
    quint64 sensors = 0;
    // A copy: asking a computer may run the main loop, which may change the list.
    const ClientList clients = clientList_ ? *clientList_ : ClientList();
    for (const auto& client : clients) {
        if (!client)
            continue;
        const quint64 count = client->numberOfAvailableSensors();
        sensors += count;
        rows.append({client,
                     {client->machineName(), modelName(client->machineModelCode()), client->machineSerialNumber(),
                      client->hostName(), QString::number(count)}});
    }
    model_->setRows(std::move(rows));
    sensorCount_ = sensors;
    if (window_)
        showContents();
}

void ConnectionWindowController::showContents()
{
    // Both numbers in turn.
    QString format = localized(QStringLiteral("%llu computers with %llu sensors connected."));
    for (const quint64 number : {quint64(model_->rows().size()), sensorCount_}) {
        const qsizetype at = format.indexOf(QLatin1String("%llu"));
        if (at >= 0)
            format.replace(at, 4, QString::number(number));
    }
    ui_->summaryField->setText(format);
    ui_->connectionTable->resizeColumnsToContents();
    fitWindowToTable();
}

// The window grows (within its screen) until every column shows whole; it never shrinks under the user.
void ConnectionWindowController::fitWindowToTable()
{
    QTableView* table = ui_->connectionTable;
    if (QLayout* layout = window_->layout())
        layout->activate();
    const int scroller = table->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, table);
    const int wanted = table->horizontalHeader()->length() + 2 * table->frameWidth() + scroller;
    if (table->width() >= wanted)
        return;
    int width = window_->width() + wanted - table->width();
    // Its frame, borders included, no wider than the screen.
    if (const QScreen* screen = window_->screen())
        width = std::min(width, screen->availableGeometry().width() - (window_->frameGeometry().width() - window_->width()));
    // Grown to the right, it moves left as far as it must to stay on its screen.
    QRect grown = window_->frameGeometry();
    grown.setWidth(grown.width() + width - window_->width());
    keepOnScreen(grown);
    window_->resize(width, window_->height());
}

void ConnectionWindowController::keepOnScreen(const QRect& frame)
{
    const QRect placed = WindowPlacement::bringOntoScreen(frame, WindowPlacement::currentScreens());
    if (placed.topLeft() != frame.topLeft())
        window_->move(placed.topLeft());
}

void ConnectionWindowController::openWindow()
{
    ensureWindow();
    updateContents();
    keepOnScreen(window_->frameGeometry());
    window_->show();
    window_->raise();
}

qsizetype ConnectionWindowController::numberOfRows() const { return model_->rows().size(); }

QString ConnectionWindowController::objectValueForTableColumn(const QString& column, qsizetype row) const
{
    const qsizetype index = columnIdentifiers().indexOf(column);
    if (index < 0 || row < 0 || row >= model_->rows().size())
        return {};
    return model_->rows()[row].texts.value(index);
}

void ConnectionWindowController::tableViewSelectionDidChange()
{
    const QModelIndexList selected = ui_->connectionTable->selectionModel()->selectedRows();
    bool remote = false;
    if (!selected.isEmpty() && selected.first().row() < model_->rows().size())
        remote = model_->rows()[selected.first().row()].client->isRemote();
    ui_->disconnectButton->setEnabled(remote);
}

void ConnectionWindowController::disconnectSelectedSystem()
{
    if (!window_)
        return;
    const QModelIndexList selected = ui_->connectionTable->selectionModel()->selectedRows();
    if (selected.isEmpty() || selected.first().row() >= model_->rows().size())
        return;
    const auto client = model_->rows()[selected.first().row()].client;
    platform::NotificationCenter::defaultCenter().post(MonitoringClient::shouldDisconnectNotification,
                                                       client->notificationIdentity());
}
