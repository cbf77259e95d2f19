#include "delta/softwaredownload.h"

#include "delta/packagetree.h"
#include "software/packagecheck.h"
#include "software/packagefiles.h"
#include "software/shell.h"

#include <QFileInfo>

namespace {

const QString softwareClass = QStringLiteral("Software Version");

QString downloadDir(const QString& basePath)
{
    return basePath + QLatin1String("/download");
}

QString rebuiltDir(const QString& basePath)
{
    return basePath + QLatin1String("/.delta_rebuild");
}

} // namespace

void SoftwareDownload::choose(const QString& basePath, const QDomDocument& doc,
                              const PackageInfo& software)
{
    delta.reset();
    packageSize = software.size.toLongLong();
    const QList<DeltaOffer> offers = deltaOffers(doc, softwareClass);
    if (offers.isEmpty() || software.filename.isEmpty())
        return;
    const QString kept = installedTreePath(basePath);
    const std::optional<PackageTree> tree =
        QFileInfo(kept).isDir() ? listPackageTree(kept) : std::nullopt;
    const QString digest = tree ? QString::fromLatin1(treeDigest(*tree)) : QString();
    for (const DeltaOffer& offer : offers) {
        if (!digest.isEmpty() && offer.base == digest && offerProblem(offer).isEmpty() &&
            offer.filename != software.filename) {
            delta = offer;
            qWarning("software download: delta %s, %s bytes", qUtf8Printable(offer.filename),
                     qUtf8Printable(offer.size));
            return;
        }
    }
    qWarning("software download: full package, no delta for the installed base");
}

PackageInfo SoftwareDownload::package(const PackageInfo& software) const
{
    PackageInfo record = software;
    if (delta) {
        record.filename = delta->filename;
        record.size = delta->size;
        record.md5 = delta->md5;
        record.url = delta->url;
    }
    return record;
}

DownloadUsed SoftwareDownload::used(const PackageInfo& software) const
{
    const PackageInfo record = package(software);
    return {delta.has_value(), record.filename, record.size.toLongLong()};
}

RebuildResult SoftwareDownload::rebuild(const QString& basePath) const
{
    const QString deltaPath = basePath + '/' + delta->filename;
    executeShell("rm -rf -- " + shellQuote(rebuiltDir(basePath)));
    const RebuildResult result = rebuildFromDelta(
        deltaPath, {delta->sha256.toLatin1(), delta->manifest.toLatin1(), packageSize},
        installedTreePath(basePath), rebuiltDir(basePath));
    if (result.outcome != RebuildResult::Outcome::Rebuilt)
        executeShell("rm -rf -- " + shellQuote(rebuiltDir(basePath)) + ' ' + shellQuote(deltaPath));
    return result;
}

bool adoptRebuiltTree(const QString& basePath, PackageFiles& files)
{
    return files.adopt(rebuiltDir(basePath));
}

void setInstalledTreeAside(const QString& basePath)
{
    executeShell("rm -rf -- " + shellQuote(unpackedPackagePath(basePath)) + " && mv -- " +
                 shellQuote(downloadDir(basePath)) + ' ' +
                 shellQuote(unpackedPackagePath(basePath)));
}

void keepInstalledTree(const QString& basePath, bool installed)
{
    const QString aside = unpackedPackagePath(basePath);
    if (!QFileInfo::exists(aside))
        return;
    const QString kept = shellQuote(installedTreePath(basePath));
    const QString fresh = shellQuote(installedTreePath(basePath) + QLatin1String(".new"));
    // A copy of its own: the installed files are links to the unpacked ones,
    // and the running manager may change them in place. A tree that was not
    // installed (the install did not run) only goes.
    const QString keep = "rm -rf -- " + fresh + " && cp -a -- " + shellQuote(aside) + ' ' + fresh +
                         " && rm -rf -- " + kept + " && mv -- " + fresh + ' ' + kept + "; ";
    executeShell((installed ? keep : QString()) + "rm -rf -- " + shellQuote(aside));
}
