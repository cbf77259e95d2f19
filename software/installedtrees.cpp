#include "software/installedtrees.h"

#include "base/shell.h"
#include "software/packagecheck.h"
#include "software/packagefiles.h"

#include <QFileInfo>

namespace {

QString downloadDir(const QString& basePath)
{
    return basePath + QLatin1String("/download");
}

// The shell line that makes a copy of source the kept tree, whole or not at all.
QString replaceKeptTree(const QString& source, const QString& kept)
{
    const QString fresh = shellQuote(kept + QLatin1String(".new"));
    return "rm -rf -- " + fresh + " && cp -a -- " + shellQuote(source) + ' ' + fresh +
           " && rm -rf -- " + shellQuote(kept) + " && mv -- " + fresh + ' ' + shellQuote(kept);
}

} // namespace

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

void removeWorkTrees(const QString& basePath)
{
    QString line = QStringLiteral("rm -rf --");
    for (const char* name : {".unpacked_package", ".delta_rebuild", ".firmware_rebuild",
                             ".installed_package.new", ".installed_firmware.new"})
        line += ' ' + shellQuote(basePath + '/' + QLatin1String(name));
    executeShell(line);
}

void keepFlashedTree(const QString& basePath)
{
    executeShell(replaceKeptTree(downloadDir(basePath), treePath(basePath, firmwareTrees.kept)));
}
