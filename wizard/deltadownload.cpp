#include "agent/ucinterface.h"
#include "base/globals.h"
#include "packages/selectionfile.h"
#include "packages/xmlparser.h"
#include "software/installedtrees.h"
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

PackageInfo CMUpdater::firmwarePackage() const
{
    return firmwareDownload.package(xmlParser->firmware);
}

DownloadUsed CMUpdater::softwareDownloadUsed() const
{
    return softwareDownload.used(xmlParser->software);
}

bool CMUpdater::wholePackagesAccepted(bool softwareDelta, bool firmwareDelta) const
{
    const bool software =
        (selectedModule == SELECTED_SOFTWARE || selectedModule == SELECTED_BOTH) && !softwareDelta;
    const bool firmware =
        (selectedModule == SELECTED_FIRMWARE || selectedModule == SELECTED_BOTH) && !firmwareDelta;
    if (!software && !firmware)
        return true;
    return acceptPackages(BASE_PATH, *xmlParser,
                          software && firmware ? SELECTED_BOTH
                          : software           ? SELECTED_SOFTWARE
                                               : SELECTED_FIRMWARE);
}

bool CMUpdater::rebuiltOrFallBack(PackageDownload& download, const QString& deltaName, bool& ok)
{
    if (download.rebuilt())
        return true;
    const RebuildResult result = download.rebuild(BASE_PATH);
    switch (result.outcome) {
    case RebuildResult::Outcome::Rebuilt:
        return true;
    case RebuildResult::Outcome::Refused:
        qWarning("package refused: %s: %s", qUtf8Printable(deltaName),
                 qUtf8Printable(result.reason));
        ok = false;
        return true;
    case RebuildResult::Outcome::BaseMismatch:
        break;
    }
    qWarning("delta not used: %s: %s; downloading the full package", qUtf8Printable(deltaName),
             qUtf8Printable(result.reason));
    download.fallBack();
    return false;
}

bool CMUpdater::fellBackFromDelta(bool& ok)
{
    const bool softwareDelta =
        (selectedModule == SELECTED_SOFTWARE || selectedModule == SELECTED_BOTH) &&
        softwareDownload.usesDelta();
    const bool firmwareDelta =
        (selectedModule == SELECTED_FIRMWARE || selectedModule == SELECTED_BOTH) &&
        firmwareDownload.usesDelta();
    // A delta is checked against its own digests, whatever the key says; a
    // package downloaded whole goes through the package check.
    ok = ok && wholePackagesAccepted(softwareDelta, firmwareDelta);
    if (!ok || (!softwareDelta && !firmwareDelta))
        return false;
    // Firmware first: its tree is rebuilt and checked before the modem is touched.
    const bool firmwareWhole =
        firmwareDelta && !rebuiltOrFallBack(firmwareDownload, firmwarePackage().filename, ok);
    const bool softwareWhole =
        ok && softwareDelta && !rebuiltOrFallBack(softwareDownload, softwarePackage().filename, ok);
    if (ok && softwareDownload.rebuilt())
        dispatcher->setTreeSource(
            [](PackageFiles& files, const QString&) { return adoptRebuiltTree(BASE_PATH, files); });
    if (!ok || (!firmwareWhole && !softwareWhole))
        return false;
    // Only the packages that fell back: the others are here already.
    const SelectedModule again = firmwareWhole && softwareWhole ? SELECTED_BOTH
                                 : firmwareWhole                ? SELECTED_FIRMWARE
                                                                : SELECTED_SOFTWARE;
    writeSelectionFile(*xmlParser, again, softwarePackage(), firmwarePackage());
    const qint64 kilobytes = ((softwareWhole ? xmlParser->software.size.toLongLong() : 0) +
                              (firmwareWhole ? xmlParser->firmware.size.toLongLong() : 0)) /
                             1024;
    onGuiThread([this, kilobytes, softwareWhole, firmwareWhole] {
        soft_down_setted0 = soft_down_setted0 && !softwareWhole;
        soft_down_setted100 = soft_down_setted100 && !softwareWhole;
        firm_down_setted0 = firm_down_setted0 && !firmwareWhole;
        firm_down_setted100 = firm_down_setted100 && !firmwareWhole;
        addStatusLine(tr("The update does not fit this installation; downloading the full "
                         "package (%1 KB)...")
                          .arg(kilobytes));
    });
    downloading = true;
    ucInterface->Download();
    return true;
}
