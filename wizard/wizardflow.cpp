#include "agent/ucinterface.h"
#include "packages/packagesize.h"
#include "packages/xmlparser.h"
#include "software/softwareupdate.h"
#include "wizard/cmupdater.h"
#include "wizard/guithread.h"
#include "wizard/messagebox.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>

namespace {

enum PageId { NoticePage = 0, SelectPage = 1, UpdatePage = 2 };

QTableWidgetItem* checkItem()
{
    auto* item = new QTableWidgetItem(CMUpdater::tr(""));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    return item;
}

QTableWidgetItem* textItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

bool offered(const PackageInfo& package)
{
    return !package.packageClass.isEmpty();
}

} // namespace

void CMUpdater::noticeShow()
{
    onGuiThread([this] {
        if (xmlParser->version.isEmpty())
            QCoreApplication::exit(0);
        show();
        versionNoticeContent->setText(tr(xmlParser->version.toUtf8().constData()));
        descriptionNoticeContent->setText(tr(xmlParser->description.toUtf8().constData()));
        centerStack->setCurrentIndex(NoticePage);
        phase = Phase::Notice;
        if (!noticeNext->isEnabled())
            noticeNext->setEnabled(true);
    });
}

// The check ended without a new version: the dialog was never shown, so the
// texts set here are not seen; the pause keeps to the agreed end of a check.
void CMUpdater::endCheck(const char* outcome)
{
    onGuiThread([this, outcome] {
        descriptionNoticeContent->setText(tr(outcome));
        noticeNext->setEnabled(false);
    });
    phase = Phase::Done;
    sleepOnThisThread(timing.checkEndPause);
    endEventLoop(0);
    endProcess(0);
}

void CMUpdater::fillPackageRow(int row, const char* kind, const PackageInfo& package)
{
    selectTable->setItem(row, 1, textItem(tr(kind)));
    selectTable->setItem(row, 2, textItem(package.version));
    selectTable->setItem(row, 3, textItem(sizeInKilobytes(package.size)));
    selectTable->setItem(row, 4, textItem(package.priorityFlag));
}

// With a single package row, row 0 stands for the firmware package when no
// software package is offered.
bool CMUpdater::rowShowsFirmwareOnly() const
{
    return xmlParser->packageCount == 1 && !offered(xmlParser->software) &&
           offered(xmlParser->firmware);
}

void CMUpdater::noticeNextClicked()
{
    const int rows = xmlParser->packageCount;
    selectTable->setRowCount(rows);
    for (int row = 0; row < rows; ++row)
        selectTable->setItem(row, 0, checkItem());
    const char* softwareKind = QT_TR_NOOP("Software Update Package");
    const char* firmwareKind = QT_TR_NOOP("Firmware Update Package");
    if (rowShowsFirmwareOnly()) {
        fillPackageRow(0, firmwareKind, firmwarePackage());
    } else {
        if (rows > 0 && offered(xmlParser->software))
            fillPackageRow(0, softwareKind, softwarePackage());
        if (rows > 1 && offered(xmlParser->firmware))
            fillPackageRow(1, firmwareKind, firmwarePackage());
    }
    descriptionselect->setText(xmlParser->description);
    centerStack->setCurrentIndex(SelectPage);
    phase = Phase::Selecting;
}

void CMUpdater::showPackageDes()
{
    const auto rowSelected = [this](int row) {
        for (int column = 0; column < selectTable->columnCount(); ++column) {
            const QTableWidgetItem* item = selectTable->item(row, column);
            if (item != nullptr && item->isSelected())
                return true;
        }
        return false;
    };
    if (rowSelected(0))
        descriptionselect->setText(rowShowsFirmwareOnly() ? xmlParser->firmware.text
                                                          : xmlParser->software.text);
    else if (rowSelected(1))
        descriptionselect->setText(xmlParser->firmware.text);
    else
        descriptionselect->setText(xmlParser->description);
}

void CMUpdater::selectBackClicked()
{
    centerStack->setCurrentIndex(NoticePage);
    phase = Phase::Notice;
}

bool CMUpdater::rowTicked(int row) const
{
    if (row >= xmlParser->packageCount || row >= selectTable->rowCount())
        return false;
    const QTableWidgetItem* item = selectTable->item(row, 0);
    return item != nullptr && item->checkState() == Qt::Checked;
}

// The choice from the two check boxes; a ticked row whose package has no file
// name leaves the earlier choice in force.
SelectedModule CMUpdater::chosenModule() const
{
    bool first = rowTicked(0);
    bool second = rowTicked(1);
    const bool softwareFile = !xmlParser->software.filename.isEmpty();
    const bool firmwareFile = !xmlParser->firmware.filename.isEmpty();
    if (first && second) {
        if (softwareFile && firmwareFile)
            return SELECTED_BOTH;
        // The agent refuses a whole selection with an entry it cannot fetch, so
        // a package without a file name counts as not ticked.
        first = softwareFile;
        second = firmwareFile;
    }
    if (first && softwareFile)
        return SELECTED_SOFTWARE;
    if ((first || second) && firmwareFile)
        return SELECTED_FIRMWARE;
    if (first || second)
        return selectedModule;
    return SELECTED_NONE;
}

void CMUpdater::selectUpdateClicked()
{
    selectedModule = chosenModule();
    if (selectedModule == SELECTED_NONE) {
        MessageBox::information(this, tr("Warning"), tr("Please select first!"));
        return;
    }
    if (includesSoftware(selectedModule)) {
        backupPrivateData =
            MessageBox::question(this, tr("Warning"), tr("Backup your private data?")) ==
            QMessageBox::Yes;
    }
    createSelectxml(selectedModule);
    centerStack->setCurrentIndex(UpdatePage);
    try {
        updateCancel->setEnabled(false);
        downloadLabel->setFont(boldFont);
        phase = Phase::Downloading;
        ucInterface->Download();
    } catch (...) {
        qWarning("sth wrong");
    }
}

void CMUpdater::cancelClicked()
{
    phase = Phase::Done;
    dispatcher->cancelled();
    hide();
    QCoreApplication::exit(0);
}

// Before the update starts this is Cancel. A download that is stopped leaves
// nothing changed, and the agent keeps what it got for the next run; it then
// reports a failed download. Once the connection manager is stopped the
// install must not be left half-way, so the window stays.
void CMUpdater::reject()
{
    switch (phase.load()) {
    case Phase::Checking:
    case Phase::Notice:
    case Phase::Selecting:
        cancelClicked();
        break;
    case Phase::Downloading:
        if (!downloadStopped.exchange(true))
            ucInterface->StopDownload();
        break;
    case Phase::Installing:
    case Phase::Done:
        break;
    }
}

void CMUpdater::updateCancelClicked()
{
    qWarning("interupted");
}

void CMUpdater::tableItemChanged(int, int, int)
{
    descriptionselect->setText(xmlParser->firmware.text);
}
