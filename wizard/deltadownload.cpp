#include "agent/ucinterface.h"
#include "app/globals.h"
#include "packages/selectionfile.h"
#include "packages/xmlparser.h"
#include "software/packagefiles.h"
#include "software/softwareupdate.h"
#include "trust/updatetrust.h"
#include "wizard/cmupdater.h"
#include "wizard/guithread.h"

#include <QListWidget>

PackageInfo CMUpdater::softwarePackage() const
{
    return softwareDownload.package(xmlParser->software);
}

DownloadUsed CMUpdater::softwareDownloadUsed() const
{
    return softwareDownload.used(xmlParser->software);
}

bool CMUpdater::fellBackFromDelta(bool& ok)
{
    const bool softwareChosen =
        selectedModule == SELECTED_SOFTWARE || selectedModule == SELECTED_BOTH;
    if (!softwareChosen || !softwareDownload.usesDelta()) {
        ok = ok && acceptPackages(BASE_PATH, *xmlParser, selectedModule);
        return false;
    }
    // The delta is checked against its own digests, whatever the key says; a
    // firmware package beside it goes through the package check.
    if (selectedModule == SELECTED_BOTH)
        ok = ok && acceptPackages(BASE_PATH, *xmlParser, SELECTED_FIRMWARE);
    if (!ok)
        return false;
    const QString deltaName = softwarePackage().filename;
    const RebuildResult result = softwareDownload.rebuild(BASE_PATH);
    switch (result.outcome) {
    case RebuildResult::Outcome::Rebuilt:
        dispatcher->setTreeSource(
            [](PackageFiles& files, const QString&) { return adoptRebuiltTree(BASE_PATH, files); });
        return false;
    case RebuildResult::Outcome::Refused:
        qWarning("package refused: %s: %s", qUtf8Printable(deltaName),
                 qUtf8Printable(result.reason));
        ok = false;
        return false;
    case RebuildResult::Outcome::BaseMismatch:
        break;
    }
    qWarning("delta not used: %s: %s; downloading the full package", qUtf8Printable(deltaName),
             qUtf8Printable(result.reason));
    softwareDownload.fallBack();
    // Only the software package: a firmware package beside it is here already.
    writeSelectionFile(*xmlParser, SELECTED_SOFTWARE, softwarePackage());
    const qint64 kilobytes = xmlParser->software.size.toLongLong() / 1024;
    onGuiThread([this, kilobytes] {
        soft_down_setted0 = false;
        soft_down_setted100 = false;
        addStatusLine(tr("The update does not fit this installation; downloading the full "
                         "package (%1 KB)...")
                          .arg(kilobytes));
    });
    downloading = true;
    ucInterface->Download();
    return true;
}
