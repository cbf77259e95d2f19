#include "agent/ucinterface.h"
#include "packages/xmlparser.h"
#include "wizard/cmupdater.h"

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

// Only the packages that fell back from their delta are fetched again.
void CMUpdater::downloadAgain(SelectedModule again)
{
    createSelectxml(again);
    const qint64 bytes = (includesSoftware(again) ? xmlParser->software.size.toLongLong() : 0) +
                         (includesFirmware(again) ? xmlParser->firmware.size.toLongLong() : 0);
    appendLine(QT_TR_NOOP("The update does not fit this installation; downloading the full "
                          "package (%1 KB)..."),
               {QString::number(bytes / 1024)});
    phase = Phase::Downloading;
    ucInterface->Download();
}
