#pragma once

#include "delta/deltaoffer.h"
#include "delta/deltarebuild.h"
#include "delta/keptrees.h"
#include "packages/xmlparser.h"

#include <optional>

// Which download brought a package, for the update history.
struct DownloadUsed {
    bool delta = false;
    QString filename;
    qint64 bytes = 0;
};

// What is downloaded for a package: the package itself, or a delta from the
// package tree this installation kept.
class PackageDownload final {
public:
    explicit PackageDownload(const KeptTrees& trees) : trees(trees) {}

    // Before the selection page: takes the smallest delta offered for the tree
    // kept here, if the description offers one; one warning line says which.
    void choose(const QString& basePath, const QDomDocument& doc, const PackageInfo& offered);
    // The record the size column, the selection file and the progress use:
    // the delta's entry in place of the package's, or the package's own.
    PackageInfo package(const PackageInfo& offered) const;
    bool usesDelta() const { return delta.has_value(); }
    // Whether the delta's tree has been rebuilt and checked.
    bool rebuilt() const { return treeRebuilt; }
    // The full package from now on.
    void fallBack() { delta.reset(); }
    DownloadUsed used(const PackageInfo& offered) const;

    // Rebuilds the package's tree from the downloaded delta into a directory
    // of its own (the firmware step unpacks into "/download" before the
    // software step); after anything but Rebuilt the delta and the partial
    // tree are gone.
    RebuildResult rebuild(const QString& basePath);

private:
    KeptTrees trees;
    std::optional<DeltaOffer> delta;
    bool treeRebuilt = false;
    qint64 packageSize = 0; // the full package's, which bounds the rebuild
};
