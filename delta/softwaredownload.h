#pragma once

#include "delta/deltaoffer.h"
#include "delta/deltarebuild.h"
#include "packages/xmlparser.h"

#include <optional>

class PackageFiles;

// Which download brought a package, for the update history.
struct DownloadUsed {
    bool delta = false;
    QString filename;
    qint64 bytes = 0;
};

// The trees of one kind of package at the top of the installation: the one
// kept after its last install or flash (the base the next delta is rebuilt
// from) and one rebuilt from a delta.
struct KeptTrees {
    const char* kind; // for the log
    const char* packageClass;
    const char* kept;
    const char* rebuilt;
};
inline constexpr KeptTrees softwareTrees{"software", "Software Version", ".installed_package",
                                         ".delta_rebuild"};
inline constexpr KeptTrees firmwareTrees{"firmware", "Firmware Version", ".installed_firmware",
                                         ".firmware_rebuild"};

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

// The rebuilt tree becomes "/download", listed in files; false when there is
// none.
bool adoptRebuiltTree(const QString& basePath, PackageFiles& files,
                      const KeptTrees& trees = softwareTrees);

// After an install that put the software package in place, while the
// connection manager is stopped: its unpacked tree is set aside, a rename.
void setInstalledTreeAside(const QString& basePath);

// Once the connection manager runs again: the software tree set aside after an
// install (installed) becomes the base the next delta is rebuilt from; one
// unpacked but never installed is removed. A failure only costs the next
// update its delta.
void keepInstalledTree(const QString& basePath, bool installed);

// After a flash the modem took whole: the firmware tree in "/download" becomes
// the base the next firmware delta is rebuilt from.
void keepFlashedTree(const QString& basePath);
