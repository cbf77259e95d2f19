#include "delta/softwaredownload.h"

#include "delta/packagetree.h"
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

} // namespace

void PackageDownload::choose(const QString& basePath, const QDomDocument& doc,
                             const PackageInfo& offered)
{
    delta.reset();
    treeRebuilt = false;
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
    const RebuildResult result =
        rebuildFromDelta(deltaPath, {delta->sha256.toLatin1(), delta->manifest.toLatin1()},
                         treePath(basePath, trees.kept), rebuilt);
    treeRebuilt = result.outcome == RebuildResult::Outcome::Rebuilt;
    if (!treeRebuilt)
        executeShell("rm -rf -- " + shellQuote(rebuilt) + ' ' + shellQuote(deltaPath));
    return result;
}

bool adoptRebuiltTree(const QString& basePath, PackageFiles& files, const KeptTrees& trees)
{
    if (!executeShellChecked("rm -rf -- " + shellQuote(downloadDir(basePath)) + " && mv -- " +
                             shellQuote(treePath(basePath, trees.rebuilt)) + ' ' +
                             shellQuote(downloadDir(basePath))))
        return false;
    files.listUnpacked();
    return !files.newFilesInfo.isEmpty();
}

void keepInstalledTree(const QString& basePath, const KeptTrees& trees)
{
    const QString kept = shellQuote(treePath(basePath, trees.kept));
    const QString fresh = shellQuote(treePath(basePath, trees.kept) + QLatin1String(".new"));
    executeShell("rm -rf -- " + fresh + " && cp -a -- " + shellQuote(downloadDir(basePath)) + ' ' +
                 fresh + " && rm -rf -- " + kept + " && mv -- " + fresh + ' ' + kept);
}
