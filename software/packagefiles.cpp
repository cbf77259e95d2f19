#include "software/packagefiles.h"

#include "software/shell.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <sys/wait.h>

#include <utility>

namespace {

// unzip exits with 1 when it only warned, for instance about a "../" component
// it stripped; anything above that means the package is not fully unpacked.
bool unpacked(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}

// True also for a dangling symbolic link, which exists() does not see.
bool pathPresent(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

PackageFiles::PackageFiles(QString basePath) : basePath(std::move(basePath)) {}

bool PackageFiles::unzip(const QString& packagePath)
{
    // Standard output carries the start-up report only, not unzip's listing.
    const int status = shellRunner().run("unzip " + shellQuote(packagePath) + " -d  " +
                                         shellQuote(downloadDir()) + " >/dev/null");
    if (!unpacked(status))
        return false;
    newFilesInfo.clear();
    getAllFileName(downloadDir(), &newFilesInfo, downloadDir());
    return true;
}

void PackageFiles::getAllFileName(const QString& dir, QStringList* list, const QString& root)
{
    // Hidden files are listed too: cp -r copies them inside subdirectories, so
    // they need a backup like any other file.
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Dirs | QDir::Files | QDir::Drives |
                                                              QDir::Hidden | QDir::NoDotAndDotDot,
                                                          QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        const QString path = dir + '/' + entry.fileName();
        if (entry.isDir()) {
            // A linked directory may point anywhere, even back up the tree.
            if (!entry.isSymLink())
                getAllFileName(path, list, root);
        } else if (entry.isFile()) {
            list->append(path.mid(root.size()));
        }
    }
}

bool PackageFiles::del(const QString& path)
{
    executeShell("alias rm='rm'");
    return executeShell("rm -rf " + shellQuote(path));
}

bool PackageFiles::copy()
{
    return executeShellChecked("cp -r --remove-destination " + shellQuote(downloadDir()) + "/* " +
                               shellQuote(basePath));
}

bool PackageFiles::bak()
{
    executeShell("alias cp='cp'");
    backFilesInfo.clear();
    executeShell("mkdir " + shellQuote(bakDir()));
    for (const QString& name : std::as_const(newFilesInfo)) {
        if (!QFileInfo::exists(basePath + name))
            continue;
        const qsizetype lastSlash = name.lastIndexOf('/');
        if (lastSlash > 0)
            executeShell("mkdir -p " + shellQuote(bakDir() + name.left(lastSlash)));
        if (!executeShellChecked("cp -r --remove-destination " + shellQuote(basePath + name) +
                                 "  " + shellQuote(bakDir() + name)))
            return false;
        backFilesInfo.append(name);
    }
    return true;
}

bool PackageFiles::backupFile(const QString& targetDir, const QString& name,
                              const QString& sourceDir)
{
    if (!QFileInfo::exists(sourceDir + name))
        return false;
    return executeShellChecked("cp --remove-destination " + shellQuote(sourceDir + name) + " " +
                               shellQuote(targetDir + name));
}

void PackageFiles::scrollBack()
{
    for (const QString& name : std::as_const(backFilesInfo)) {
        if (QFileInfo::exists(bakDir() + name))
            executeShell("cp --remove-destination " + shellQuote(bakDir() + name) + " " +
                         shellQuote(basePath + name));
    }
    removeAddedFiles();
    executeShell("rm -rf " + shellQuote(basePath + privateDataBackup));
}

void PackageFiles::removeAddedFiles()
{
    const QSet<QString> saved(backFilesInfo.cbegin(), backFilesInfo.cend());
    for (const QString& name : std::as_const(newFilesInfo)) {
        if (!saved.contains(name) && pathPresent(basePath + name))
            executeShell("rm -f " + shellQuote(basePath + name));
    }
}
