#include "app/controller/QtWaitSheet.h"

#include "platform/desktop/AlertPresenter.h"

#include <QCoreApplication>
#include <QProgressDialog>

void QtWaitSheet::run(QWidget* parent, const std::function<void()>& work)
{
    const platform::AlertPresenter::ModalScope modal;
    QProgressDialog sheet(parent);
    sheet.setObjectName(QStringLiteral("preferenceWaitSheet"));
    sheet.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    sheet.setCancelButton(nullptr);
    sheet.setLabelText({});
    sheet.setRange(0, 0); // busy, without progress
    sheet.setMinimumDuration(0);
    sheet.show();
    // Once, so it paints; the user's input waits until the work is done.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (work)
        work();
    sheet.close();
}
