#include "delta/softwaredownload.h"

#include "base/shell.h"
#include "delta/packagetree.h"

#include <QFileInfo>

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
