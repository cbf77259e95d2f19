// What a screen reader says of each control: its purpose, never its place
// on the page, and of each page the step it is.

#include "packages/packagesize.h"
#include "packages/xmlparser.h"
#include "wizard/accessibility.h"
#include "wizard/cmupdater.h"

#include <QFrame>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>

void CMUpdater::nameControls()
{
    using A = WizardAccessibility;
    A::describe(*checkWStackPage, tr("Checking for a new version"));
    A::describe(*noticeWStackPage, tr("Step 1 of 3: new version"));
    A::describe(*selectWStackPage, tr("Step 2 of 3: choose packages"));
    A::describe(*updateWStackPage, tr("Step 3 of 3: update"));
    A::describe(*checkFrame, tr("Version check"));
    A::describe(*noticeFrame, tr("The new version"));
    A::describe(*selectFrame, tr("About the selected package"));
    const QString closes = tr("Close the updater and change nothing");
    A::describe(*noticeNext, tr("Next"), tr("Choose the packages of the new version"));
    A::describe(*noticeCancel, tr("Cancel"), closes);
    A::describe(*selectBack, tr("Back"), tr("Return to the notice of the new version"));
    A::describe(*selectUpdate, tr("Update"), tr("Download and install the ticked packages"));
    A::describe(*selectCancel, tr("Cancel"), closes);
    A::describe(*updateCancel, tr("Cancel"), tr("Stop the download"));
    A::describe(*selectTable, tr("Packages"),
                tr("Arrow keys choose a package, Space ticks it for the update"));
    // The check box column has no label on screen; a screen reader needs one.
    selectTable->horizontalHeaderItem(0)->setData(Qt::AccessibleTextRole, tr("Install"));
    A::describe(*updateListbox, tr("Update status"));
    A::describe(*updateProgressBar, tr("Progress of the running step"));
    A::showProgressText(*updateProgressBar);
}

// A row and its check box say which package they choose; the other cells
// describe themselves by the same words.
void CMUpdater::describePackageRow(int row, const PackageInfo& package)
{
    const QString size = sizeInKilobytes(package.size);
    const QString name = package.packageClass == QLatin1String("Firmware Version")
                             ? tr("Install the modem firmware %1, %2 KB").arg(package.version, size)
                             : tr("Install the connection manager %1 %2, %3 KB")
                                   .arg(run.installation().CM_NAME, package.version, size);
    for (int column = 0; column < selectTable->columnCount(); ++column) {
        QTableWidgetItem* item = selectTable->item(row, column);
        item->setData(column == 0 ? Qt::AccessibleTextRole : Qt::AccessibleDescriptionRole, name);
    }
    selectTable->item(row, 0)->setData(Qt::AccessibleDescriptionRole, package.text);
}
