#pragma once

#include "delta/deltaoffer.h"
#include "delta/deltarebuild.h"
#include "packages/xmlparser.h"

#include <optional>

class PackageFiles;

// Which download brought the software package, for the update history.
struct DownloadUsed {
    bool delta = false;
    QString filename;
    qint64 bytes = 0;
};

// What is downloaded for the software package: the package itself, or a delta
// from the package tree this installation kept at its last install.
class SoftwareDownload final {
public:
    // Before the selection page: takes the delta offered for the tree kept
    // here, if the description offers one; one warning line says which.
    void choose(const QString& basePath, const QDomDocument& doc, const PackageInfo& software);
    // The record the size column, the selection file and the progress use:
    // the delta's entry in place of the package's, or the package's own.
    PackageInfo package(const PackageInfo& software) const;
    bool usesDelta() const { return delta.has_value(); }
    // The full package from now on.
    void fallBack() { delta.reset(); }
    DownloadUsed used(const PackageInfo& software) const;

    // Rebuilds the package's tree from the downloaded delta into a directory
    // of its own (the firmware step unpacks into "/download" before the
    // software step); after anything but Rebuilt the delta and the partial
    // tree are gone.
    RebuildResult rebuild(const QString& basePath) const;

private:
    std::optional<DeltaOffer> delta;
    qint64 packageSize = 0; // the full package's, which bounds the rebuild
};

// The software step's tree source for a rebuilt delta: the rebuilt tree
// becomes "/download", listed in files; false when there is none.
bool adoptRebuiltTree(const QString& basePath, PackageFiles& files);

// After an install that put the package in place, while the connection
// manager is stopped: its unpacked tree is set aside, a rename.
void setInstalledTreeAside(const QString& basePath);

// Once the connection manager runs again: the tree set aside after an install
// (installed) becomes the base the next delta is rebuilt from; one unpacked
// but never installed is removed. A failure only costs the next update its delta.
void keepInstalledTree(const QString& basePath, bool installed);
