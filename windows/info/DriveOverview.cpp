#include "windows/info/DriveOverview.h"

#include "acquisition/MonitoringClient.h"
#include "platform/foundation/Values.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace values = platform::values;
using infowindows::localized;

const QStringList& DriveOverview::columnIdentifiers()
{
    static const QStringList identifiers = {QStringLiteral("Drive"), QStringLiteral("Connection"), QStringLiteral("SerialNumber"),
                                            QStringLiteral("SMARTSupport"), QStringLiteral("SMARTStatus")};
    return identifiers;
}

DriveOverview::DriveOverview(ClientPtr client, QString defaultTitle)
    : MonitorWindowController(std::move(client), std::move(defaultTitle))
{
    setWindowMaker([this] { return makeWindow(); });
}

std::unique_ptr<QWidget> DriveOverview::makeWindow()
{
    auto window = std::make_unique<QWidget>();
    window->setObjectName(QStringLiteral("DriveOverview"));
    window->resize(640, 220);
    auto* layout = new QVBoxLayout(window.get());
    driveTable_ = new QTableWidget(window.get());
    driveTable_->setObjectName(QStringLiteral("driveTable"));
    driveTable_->setColumnCount(int(columnIdentifiers().size()));
    driveTable_->setHorizontalHeaderLabels({localized(QStringLiteral("Drive")), localized(QStringLiteral("Connection")),
                                            localized(QStringLiteral("Serial Number")), localized(QStringLiteral("S.M.A.R.T.")),
                                            localized(QStringLiteral("Status"))});
    driveTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    driveTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    driveTable_->setAlternatingRowColors(true);
    driveTable_->verticalHeader()->hide();
    driveTable_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(driveTable_);
    return window;
}

DriveOverview::~DriveOverview() = default;

QString DriveOverview::localizedDescriptionOfSMARTStatus(qint64 status, bool smartSupport)
{
    if (!smartSupport)
        return localized(QStringLiteral("not available"));
    switch (status) {
    case 0: return localized(QStringLiteral("unknown"));
    case 1: return localized(QStringLiteral("failing"));
    case 2: return localized(QStringLiteral("verified"));
    default: return {};
    }
}

QString DriveOverview::objectValueForTableColumn(const QString& column, qsizetype row) const
{
    if (row < 0 || row >= currentDriveList_.size())
        return {};
    const QVariantMap drive = values::toDictionary(currentDriveList_[row]).value_or(QVariantMap());
    const auto text = [&drive](const char* key) { return values::toString(drive.value(QLatin1String(key))).value_or(QString()); };
    const auto support = values::toBool(drive.value(QStringLiteral("SupportsSMART")));
    switch (columnIdentifiers().indexOf(column)) {
    case 0: return text("VendorAndProduct");
    case 1: return text("InterconnectProtocol");
    case 2: return text("SMARTSerialNumber");
    case 3:
        if (!support)
            return {};
        return localized(*support ? QStringLiteral("yes") : QStringLiteral("no"));
    case 4: {
        const auto status = values::toSigned(drive.value(QStringLiteral("SMARTStatus")));
        if (!support || (*support && !status))
            return {};
        return localizedDescriptionOfSMARTStatus(status.value_or(0), *support);
    }
    default: return {};
    }
}

void DriveOverview::updateContents()
{
    MonitorWindowController::updateContents();
    // Read when the window opens; on the ticks that follow only while it shows nothing yet (a remote
    // computer's late answer comes with a tick): each reading asks every drive for its S.M.A.R.T. status,
    // which must not be repeated every tick.
    if (madeWindow() && madeWindow()->isVisible() && !currentDriveList_.isEmpty())
        return;
    currentDriveList_ = monitorClient() ? monitorClient()->blockStorageDeviceDescriptions() : QVariantList();
    driveTable_->setRowCount(int(currentDriveList_.size()));
    for (int row = 0; row < currentDriveList_.size(); ++row)
        for (int column = 0; column < columnIdentifiers().size(); ++column)
            driveTable_->setItem(row, column, new QTableWidgetItem(objectValueForTableColumn(columnIdentifiers()[column], row)));
    driveTable_->resizeColumnsToContents();
}
