#include "base/globals.h"
#include "packages/plainfilename.h"
#include "packages/xmlparser.h"
#include "software/packagecheck.h"
#include "software/softwareupdate.h"
#include "wizard/cmupdater.h"

#include <QFile>
#include <QFileInfo>

bool CMUpdater::unpackSoftwareBeforeStop()
{
    const bool softwareChosen =
        selectedModule == SELECTED_SOFTWARE || selectedModule == SELECTED_BOTH;
    const QString filename = xmlParser->software.filename;
    // A delta was rebuilt and checked already; a name or file that is not
    // there is told by the software step itself.
    if (!softwareChosen || softwareDownload.usesDelta() || !isPlainFileName(filename) ||
        !QFileInfo(BASE_PATH + '/' + filename).isFile())
        return true;
    const QString refusal = unpackBeforeStop(BASE_PATH, filename);
    if (!refusal.isEmpty()) {
        qWarning("package refused: %s: %s", qUtf8Printable(filename), qUtf8Printable(refusal));
        // A package that would never install is not kept for a later run.
        QFile::remove(BASE_PATH + '/' + filename);
        return false;
    }
    dispatcher->setTreeSource(
        [](PackageFiles& files, const QString&) { return adoptUnpackedPackage(BASE_PATH, files); });
    return true;
}
