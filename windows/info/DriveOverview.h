#pragma once
// DriveOverview: the monitored computer's drives with their connection, serial number and S.M.A.R.T. state.
// Read when opened, and on later updates while it shows no drive yet. Main thread only.

#include "windows/info/MonitorWindowController.h"

#include <QStringList>
#include <QVariantList>

class QTableWidget;

class DriveOverview final : public MonitorWindowController {
public:
    static const QStringList& columnIdentifiers();

    DriveOverview(ClientPtr client, QString defaultTitle);
    ~DriveOverview() override;

    void updateContents() override;
    // "not available" without support, else by status: 0 "unknown", 1 "failing", 2 "verified", other none.
    static QString localizedDescriptionOfSMARTStatus(qint64 status, bool smartSupport);

    qsizetype numberOfRows() const { return currentDriveList_.size(); }
    QString objectValueForTableColumn(const QString& column, qsizetype row) const;
    QTableWidget* driveTable() const
    {
        window();
        return driveTable_;
    }

private:
    std::unique_ptr<QWidget> makeWindow();

    QVariantList currentDriveList_;
    QTableWidget* driveTable_ = nullptr;
};
