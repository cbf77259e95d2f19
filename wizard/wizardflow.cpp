#include "packages/packagesize.h"
#include "packages/xmlparser.h"
#include "session/heldbackline.h"
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

} // namespace

void CMUpdater::noticeShow()
{
    onGuiThread([this] {
        const XmlParser& description = run.description();
        if (description.version.isEmpty())
            QCoreApplication::exit(0);
        show();
        versionNoticeContent->setText(tr(description.version.toUtf8().constData()));
        descriptionNoticeContent->setText(tr(description.description.toUtf8().constData()));
        centerStack->setCurrentIndex(NoticePage);
        run.backToNotice();
        if (!noticeNext->isEnabled())
            noticeNext->setEnabled(true);
    });
}

void CMUpdater::showCheckEnd(const CheckReport& report)
{
    QString text = tr(report.endText);
    if (report.outcome.heldBack) {
        const NoticeLine line = heldBackLine(*report.outcome.heldBack);
        text += '\n' + tr(line.text);
        for (const QString& argument : line.arguments)
            text = text.arg(argument);
    }
    onGuiThread([this, text, shown = report.endShown] {
        descriptionNoticeContent->setText(text);
        noticeNext->setEnabled(false);
        if (shown)
            show();
    });
}

void CMUpdater::fillPackageRow(int row, const char* kind, const PackageInfo& package)
{
    selectTable->setItem(row, 1, textItem(tr(kind)));
    selectTable->setItem(row, 2, textItem(package.version));
    selectTable->setItem(row, 3, textItem(sizeInKilobytes(package.size)));
    selectTable->setItem(row, 4, textItem(package.priorityFlag));
    describePackageRow(row, package);
}

void CMUpdater::noticeNextClicked()
{
    const XmlParser& description = run.description();
    const int rows = description.packageCount;
    selectTable->setRowCount(rows);
    for (int row = 0; row < rows; ++row)
        selectTable->setItem(row, 0, checkItem());
    const char* softwareKind = QT_TR_NOOP("Software Update Package");
    const char* firmwareKind = QT_TR_NOOP("Firmware Update Package");
    const auto offered = [](const PackageInfo& package) { return !package.packageClass.isEmpty(); };
    if (run.firstRowIsFirmware()) {
        fillPackageRow(0, firmwareKind, run.firmwarePackage());
    } else {
        if (rows > 0 && offered(description.software))
            fillPackageRow(0, softwareKind, run.softwarePackage());
        if (rows > 1 && offered(description.firmware))
            fillPackageRow(1, firmwareKind, run.firmwarePackage());
    }
    descriptionselect->setText(description.description);
    if (const int rate = run.installation().MAX_RATE; rate > 0)
        selectRateLabel->setText(tr("The download is limited to %1 kB/s (MAX_RATE).").arg(rate));
    centerStack->setCurrentIndex(SelectPage);
    run.showChoice();
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
    const XmlParser& description = run.description();
    if (rowSelected(0))
        descriptionselect->setText(run.firstRowIsFirmware() ? description.firmware.text
                                                            : description.software.text);
    else if (rowSelected(1))
        descriptionselect->setText(description.firmware.text);
    else
        descriptionselect->setText(description.description);
}

void CMUpdater::selectBackClicked()
{
    centerStack->setCurrentIndex(NoticePage);
    run.backToNotice();
}

bool CMUpdater::rowTicked(int row) const
{
    if (row >= selectTable->rowCount())
        return false;
    const QTableWidgetItem* item = selectTable->item(row, 0);
    return item != nullptr && item->checkState() == Qt::Checked;
}

void CMUpdater::selectUpdateClicked()
{
    const SelectedModule module = run.choiceFromRows(rowTicked(0), rowTicked(1));
    if (module == SELECTED_NONE) {
        run.selectedModule = module;
        MessageBox::information(this, tr("Warning"), tr("Please select first!"));
        return;
    }
    run.choose(module);
}

// The download starts: the update page, its first step in bold.
void CMUpdater::showUpdatePage()
{
    centerStack->setCurrentIndex(UpdatePage);
    updateCancel->setEnabled(false);
}

void CMUpdater::cancelClicked()
{
    run.cancel();
    hide();
    QCoreApplication::exit(0);
}

// Before the update starts this is Cancel. A download that is stopped leaves
// nothing changed, and the agent keeps what it got for the next run; it then
// reports a failed download. Once the connection manager is stopped the
// install must not be left half-way, so the window stays.
void CMUpdater::reject()
{
    using Phase = UpdateSession::Phase;
    switch (run.currentPhase()) {
    case Phase::Checking:
    case Phase::Notice:
    case Phase::Selecting:
        cancelClicked();
        break;
    case Phase::Downloading:
        run.stopDownload();
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
    descriptionselect->setText(run.description().firmware.text);
}
