#include "delta/softwaredownload.h"

#include "delta/packagetree.h"
#include "software/packagecheck.h"
#include "software/packagefiles.h"
#include "software/shell.h"

#include <QFileInfo>

namespace {

QString downloadDir(const QString& basePath)
{
    return basePath + QLatin1String("/download");
}

QString treePath(const QString& basePath, const char* name)
{
    return basePath + '/' + QLatin1String(name);
}

// The shell line that makes a copy of source the kept tree, whole or not at all.
QString replaceKeptTree(const QString& source, const QString& kept)
{
    const QString fresh = shellQuote(kept + QLatin1String(".new"));
    return "rm -rf -- " + fresh + " && cp -a -- " + shellQuote(source) + ' ' + fresh +
           " && rm -rf -- " + shellQuote(kept) + " && mv -- " + fresh + ' ' + shellQuote(kept);
}

} // namespace

void PackageDownload::choose(const QString& basePath, const QDomDocument& doc,
                             const PackageInfo& offered)
{
    delta.reset();
    treeRebuilt = false;
    packageSize = offered.size.toLongLong();
    const QList<DeltaOffer> offers = deltaOffers(doc, QLatin1String(trees.packageClass));
    if (offers.isEmpty() || offered.filename.isEmpty())
        return;
    const QString kept = treePath(basePath, trees.kept);
    const std::optional<PackageTree> tree =
        QFileInfo(kept).isDir() ? listPackageTree(kept) : std::nullopt;
    const QString digest = tree ? QString::fromLatin1(treeDigest(*tree)) : QString();
    // Several earlier releases may each have a delta for this base: the smallest wins.
    for (const DeltaOffer& offer : offers) {
        if (!digest.isEmpty() && offer.base == digest && offerProblem(offer).isEmpty() &&
            offer.filename != offered.filename &&
            (!delta || offer.size.toLongLong() < delta->size.toLongLong()))
            delta = offer;
    }
    if (delta)
        qWarning("%s download: delta %s, %s bytes", trees.kind, qUtf8Printable(delta->filename),
                 qUtf8Printable(delta->size));
    else
        qWarning("%s download: full package, no delta for the kept base", trees.kind);
}

PackageInfo PackageDownload::package(const PackageInfo& offered) const
{
    PackageInfo record = offered;
    if (delta) {
        record.filename = delta->filename;
        record.size = delta->size;
        record.md5 = delta->md5;
        record.url = delta->url;
    }
    return record;
}

DownloadUsed PackageDownload::used(const PackageInfo& offered) const
{
    const PackageInfo record = package(offered);
    return {delta.has_value(), record.filename, record.size.toLongLong()};
}

RebuildResult PackageDownload::rebuild(const QString& basePath)
{
    const QString deltaPath = basePath + '/' + delta->filename;
    const QString rebuilt = treePath(basePath, trees.rebuilt);
    executeShell("rm -rf -- " + shellQuote(rebuilt));
    const RebuildResult result = rebuildFromDelta(
        deltaPath, {delta->sha256.toLatin1(), delta->manifest.toLatin1(), packageSize},
        treePath(basePath, trees.kept), rebuilt);
    treeRebuilt = result.outcome == RebuildResult::Outcome::Rebuilt;
    if (!treeRebuilt)
        executeShell("rm -rf -- " + shellQuote(rebuilt) + ' ' + shellQuote(deltaPath));
    return result;
}

bool adoptRebuiltTree(const QString& basePath, PackageFiles& files, const KeptTrees& trees)
{
    return files.adopt(treePath(basePath, trees.rebuilt));
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
    // A copy of its own: the installed files are links to the unpacked ones,
    // and the running manager may change them in place. A tree that was not
    // installed (the install did not run) only goes.
    const QString keep = installed
                             ? replaceKeptTree(aside, treePath(basePath, softwareTrees.kept)) + "; "
                             : QString();
    executeShell(keep + "rm -rf -- " + shellQuote(aside));
}

void keepFlashedTree(const QString& basePath)
{
    executeShell(replaceKeptTree(downloadDir(basePath), treePath(basePath, firmwareTrees.kept)));
}
