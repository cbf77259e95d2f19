#pragma once

#include "delta/keptrees.h"

#include <QString>

class PackageFiles;

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

// After an interrupted run: the trees it unpacked, rebuilt or was copying go;
// the kept trees stay.
void removeWorkTrees(const QString& basePath);

// After a flash the modem took whole: the firmware tree in "/download" becomes
// the base the next firmware delta is rebuilt from.
void keepFlashedTree(const QString& basePath);
