#include "session/downloadcompletion.h"

#include "base/shell.h"
#include "firmware/firmwarecheck.h"
#include "packages/plainfilename.h"
#include "packages/xmlparser.h"
#include "software/installedtrees.h"
#include "software/packagecheck.h"
#include "trust/updatetrust.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

DownloadCompletion::DownloadCompletion(QString basePath, const XmlParser& parser,
                                       PackageDownload& software, PackageDownload& firmware,
                                       SetTreeSource setTreeSource, DownloadAgain downloadAgain)
    : basePath(std::move(basePath)), parser(parser), software(software), firmware(firmware),
      setTreeSource(std::move(setTreeSource)), downloadAgain(std::move(downloadAgain))
{
}

std::optional<DownloadOutcome> DownloadCompletion::finish(SelectedModule chosen)
{
    const bool softwareDelta = includesSoftware(chosen) && software.usesDelta();
    const bool firmwareDelta = includesFirmware(chosen) && firmware.usesDelta();
    // A delta is checked against its own digests, whatever the key says; a
    // package downloaded whole goes through the package check.
    if (!wholePackagesAccepted(includesSoftware(chosen) && !softwareDelta,
                               includesFirmware(chosen) && !firmwareDelta))
        return DownloadOutcome::Refused;
    // Before anything is rebuilt or unpacked: a firmware that would not flash ends the run.
    if (!firmwareFlashable(includesFirmware(chosen) && !firmwareDelta))
        return DownloadOutcome::FirmwareBroken;
    // Firmware first: its tree is rebuilt and checked before the modem is touched.
    const Rebuild firmwareRebuild =
        firmwareDelta ? rebuilt(firmware, parser.firmware) : Rebuild::Done;
    if (firmwareRebuild == Rebuild::Refused)
        return DownloadOutcome::Refused;
    const Rebuild softwareRebuild =
        softwareDelta ? rebuilt(software, parser.software) : Rebuild::Done;
    if (softwareRebuild == Rebuild::Refused || !rebuiltTreeInstallable())
        return DownloadOutcome::Refused;
    if (software.rebuilt())
        setTreeSource([base = basePath](PackageFiles& files, const QString&) {
            return adoptRebuiltTree(base, files);
        });
    // Only the packages that fell back: the others are here already.
    const SelectedModule again =
        moduleOf(softwareRebuild == Rebuild::FallBack, firmwareRebuild == Rebuild::FallBack);
    if (again != SELECTED_NONE) {
        downloadAgain(again);
        return std::nullopt;
    }
    return softwareUnpacked(includesSoftware(chosen));
}

bool DownloadCompletion::wholePackagesAccepted(bool softwareWhole, bool firmwareWhole) const
{
    const SelectedModule whole = moduleOf(softwareWhole, firmwareWhole);
    return whole == SELECTED_NONE || acceptPackages(basePath, parser, whole);
}

DownloadCompletion::Rebuild DownloadCompletion::rebuilt(PackageDownload& download,
                                                        const PackageInfo& offered) const
{
    if (download.rebuilt())
        return Rebuild::Done;
    const QString deltaName = download.package(offered).filename;
    const RebuildResult result = download.rebuild(basePath);
    switch (result.outcome) {
    case RebuildResult::Outcome::Rebuilt:
        return Rebuild::Done;
    case RebuildResult::Outcome::Refused:
        qWarning("package refused: %s: %s", qUtf8Printable(deltaName),
                 qUtf8Printable(result.reason));
        return Rebuild::Refused;
    case RebuildResult::Outcome::BaseMismatch:
        break;
    }
    qWarning("delta not used: %s: %s; downloading the full package", qUtf8Printable(deltaName),
             qUtf8Printable(result.reason));
    download.fallBack();
    return Rebuild::FallBack;
}

bool DownloadCompletion::rebuiltTreeInstallable() const
{
    if (!software.rebuilt())
        return true;
    const QString tree = treePath(basePath, softwareTrees.rebuilt);
    const QString refusal = installRefusal(basePath, tree, parser.software.filename);
    if (refusal.isEmpty())
        return true;
    qWarning("package refused: %s: %s", qUtf8Printable(software.package(parser.software).filename),
             qUtf8Printable(refusal));
    executeShell("rm -rf -- " + shellQuote(tree));
    return false;
}

bool DownloadCompletion::firmwareFlashable(bool chosen) const
{
    const QString filename = parser.firmware.filename;
    // A rebuilt tree was checked file by file; a missing file is the flash's to tell.
    if (!chosen || firmware.usesDelta() || !isPlainFileName(filename) ||
        !QFileInfo(basePath + '/' + filename).isFile())
        return true;
    const QString refusal = firmwarePackageRefusal(basePath + '/' + filename);
    if (refusal.isEmpty())
        return true;
    qWarning("package refused: %s: %s", qUtf8Printable(filename), qUtf8Printable(refusal));
    QFile::remove(basePath + '/' + filename);
    return false;
}

DownloadOutcome DownloadCompletion::softwareUnpacked(bool chosen) const
{
    const QString filename = parser.software.filename;
    // A delta was rebuilt and checked already; a name or file that is not
    // there is told by the software step itself.
    if (!chosen || software.usesDelta() || !isPlainFileName(filename) ||
        !QFileInfo(basePath + '/' + filename).isFile())
        return DownloadOutcome::Downloaded;
    using Cause = UnpackRefusal::Cause;
    const UnpackRefusal refusal = unpackBeforeStop(basePath, filename);
    switch (refusal.cause) {
    case Cause::None:
        setTreeSource([base = basePath](PackageFiles& files, const QString&) {
            return adoptUnpackedPackage(base, files);
        });
        return DownloadOutcome::Downloaded;
    case Cause::Package:
        qWarning("package refused: %s: %s", qUtf8Printable(filename), qUtf8Printable(refusal.text));
        // A package that would never install is not kept for a later run.
        QFile::remove(basePath + '/' + filename);
        return DownloadOutcome::PackageBroken;
    case Cause::NoRoom:
    case Cause::Unpack:
        break;
    }
    // The package is good; this run could not use it.
    qWarning("package not unpacked: %s: %s", qUtf8Printable(filename),
             qUtf8Printable(refusal.text));
    return refusal.cause == Cause::NoRoom ? DownloadOutcome::NoRoom : DownloadOutcome::UnpackFailed;
}
