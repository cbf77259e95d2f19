#include "software/packagefiles.h"

#include "base/shell.h"
#include "software/packagecheck.h"

#include <QFile>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

// The journal's lists, each NUL-separated and relative to the package root.
constexpr char packageList[] = "package";
constexpr char replacedList[] = "replaced";
constexpr char addedList[] = "added";
constexpr char addedDirList[] = "dirs";
constexpr char restoredList[] = "restored";

// unzip exits with 1 when it only warned, for instance about a "../" component
// it stripped; anything above that means the package is not fully unpacked.
bool unpacked(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}

bool statLink(const QByteArray& path, struct stat* info)
{
    return ::lstat(path.constData(), info) == 0;
}

// True also for a dangling symbolic link.
bool present(const QByteArray& path)
{
    struct stat info {};
    return statLink(path, &info);
}

bool isEmptyDirectory(const QByteArray& path)
{
    DIR* stream = ::opendir(path.constData());
    if (stream == nullptr)
        return false;
    bool empty = true;
    while (const dirent* entry = ::readdir(stream)) {
        const QByteArray name(entry->d_name);
        empty = empty && (name == "." || name == "..");
    }
    ::closedir(stream);
    return empty;
}

bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    QFile first(QFile::decodeName(a));
    QFile second(QFile::decodeName(b));
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 chunk = 1 << 16;
    while (!first.atEnd() || !second.atEnd()) {
        const QByteArray part = first.read(chunk);
        if (part.isEmpty() && !first.atEnd())
            return false;
        if (second.read(chunk) != part)
            return false;
    }
    return true;
}

bool caseInsensitiveLess(const QByteArray& a, const QByteArray& b)
{
    const int order = qstricmp(a.constData(), b.constData());
    return order != 0 ? order < 0 : a < b;
}

// The names without their leading "/", as the tools take them relative to a directory.
FileNames relative(const FileNames& names)
{
    FileNames result;
    result.reserve(names.size());
    for (const QByteArray& name : names)
        result.append(name.mid(1));
    return result;
}

FileNames rooted(const FileNames& names)
{
    FileNames result;
    result.reserve(names.size());
    for (const QByteArray& name : names)
        result.append('/' + name);
    return result;
}

bool within(const QByteArray& path, const QByteArray& dir)
{
    return path == dir || path.startsWith(dir + '/');
}

QByteArray linkTarget(const QByteArray& path)
{
    QByteArray target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.constData(), target.data(), size_t(target.size()));
    return length < 0 ? QByteArray() : target.left(length);
}

QByteArray realPath(const QByteArray& path)
{
    char* resolved = ::realpath(path.constData(), nullptr);
    const QByteArray result = resolved != nullptr ? QByteArray(resolved) : QByteArray();
    std::free(resolved);
    return result;
}

// Hard links where the file system allows them (no data is copied, the old
// inode stays whole), a real copy where it does not. Every existing target is
// removed first, never written into.
QString linkOrCopy(const QString& list, const QString& target)
{
    const QString xargs = "xargs -0 -r -a " + shellQuote(list) + " cp -a";
    const QString options = " --parents --remove-destination -t " + shellQuote(target) + " --";
    return "{ " + xargs + 'l' + options + " 2>/dev/null || " + xargs + options + "; }";
}

} // namespace

PackageFiles::PackageFiles(QString basePath)
    : basePath(std::move(basePath)), installJournal(this->basePath)
{
}

QByteArray PackageFiles::installed(const QByteArray& name) const
{
    return QFile::encodeName(basePath) + name;
}

bool PackageFiles::unzip(const QString& packagePath)
{
    if (!unpack(packagePath, downloadDir()))
        return false;
    listUnpacked();
    return true;
}

bool PackageFiles::unpack(const QString& packagePath, const QString& directory)
{
    // Leftovers of an interrupted run would be copied along with the package.
    // Standard output carries the start-up report only, not unzip's listing;
    // on a full disk unzip asks whether to go on, and must hear no.
    // Made private before unzip fills it; a directory that cannot go (a mount
    // point) is unpacked into as it is.
    const QString dir = shellQuote(directory);
    const QString clear =
        present(QFile::encodeName(directory)) ? "rm -rf -- " + dir + "; " : QString();
    const int status =
        shellRunner().run(clear + "mkdir -m 0700 -- " + dir + " 2>/dev/null; unzip " +
                          shellQuote(packagePath) + " -d  " + dir + " >/dev/null </dev/null");
    // The archive's own modes are the publisher's: nothing of the package may
    // become writable by anyone but root in the installation.
    return unpacked(status) && executeShellChecked("chmod -R go-w -- " + dir);
}

bool PackageFiles::adopt(const QString& tree)
{
    // A "/download" that cannot go (a mount point) is filled as it is.
    const QString from = shellQuote(tree);
    const QString to = shellQuote(downloadDir());
    if (!executeShellChecked("rm -rf -- " + to + " && mv -- " + from + ' ' + to +
                             " || { cp -a -- " + from + "/. " + to + "/ && rm -rf -- " + from +
                             "; }"))
        return false;
    listUnpacked();
    return !newFilesInfo.isEmpty();
}

void PackageFiles::listUnpacked()
{
    newFilesInfo.clear();
    const QByteArray root = QFile::encodeName(downloadDir());
    getAllFileName(root, &newFilesInfo, root);
}

void PackageFiles::getAllFileName(const QByteArray& dir, FileNames* list, const QByteArray& root)
{
    DIR* stream = ::opendir(dir.constData());
    if (stream == nullptr)
        return;
    FileNames names;
    while (const dirent* entry = ::readdir(stream)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(stream);
    std::sort(names.begin(), names.end(), caseInsensitiveLess);
    // Names with a leading dot at the top, such as a stray ".git", are no part
    // of what a package installs; deeper down they are.
    if (dir == root)
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const QByteArray& name) { return name.startsWith('.'); }),
                    names.end());
    for (const QByteArray& name : std::as_const(names)) {
        const QByteArray path = dir + '/' + name;
        struct stat info {};
        if (!statLink(path, &info))
            continue;
        // A linked directory is listed as the link it is, never followed; an
        // empty one as itself, so that it is installed too.
        if (S_ISDIR(info.st_mode))
            getAllFileName(path, list, root);
        if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode) ||
            (S_ISDIR(info.st_mode) && isEmptyDirectory(path)))
            list->append(path.mid(root.size()));
    }
}

bool PackageFiles::del(const QString& path)
{
    executeShell("alias rm='rm'");
    return executeShell("rm -rf " + shellQuote(path));
}

QByteArray PackageFiles::refusal(const QSet<QByteArray>& reserved) const
{
    return treeRefusal(basePath, downloadDir(), newFilesInfo, reserved);
}

QByteArray PackageFiles::treeRefusal(const QString& basePath, const QString& tree,
                                     const FileNames& names, const QSet<QByteArray>& reserved)
{
    const QByteArray base = QFile::encodeName(basePath);
    const QByteArray unpacked = QFile::encodeName(tree);
    const QByteArray realBase = realPath(base);
    // After the copy a link of the package stands where it is; where the
    // package has none, cp goes through the installed one, even for a
    // directory the package brings. An absolute target through the
    // installation's real path is taken as inside it.
    const LinkLookup linkAt = [&](const QByteArray& path) -> std::optional<QByteArray> {
        struct stat info {};
        QByteArray where = unpacked + path;
        if (!statLink(where, &info) || !S_ISLNK(info.st_mode))
            where = base + path;
        if (!statLink(where, &info) || !S_ISLNK(info.st_mode))
            return std::nullopt;
        const QByteArray target = linkTarget(where);
        return !realBase.isEmpty() && realBase != base && within(target, realBase)
                   ? base + target.mid(realBase.size())
                   : target;
    };
    for (const QByteArray& name : names) {
        if (reserved.contains(topLevelName(name)))
            return "work path " + topLevelName(name);
        struct stat info {};
        if (statLink(unpacked + name, &info) && S_ISLNK(info.st_mode) &&
            !linkStaysInside(name, linkTarget(unpacked + name), base))
            return "link out of the installation " + name;
        // The copy follows the directories on the way, links installed or
        // brought: they must lead neither out nor into the updater's own.
        const QByteArray landing = installedPath(name, base, linkAt);
        if (landing.isEmpty())
            return "installed directory out of the installation " + name;
        if (reserved.contains(topLevelName(landing)))
            return "work path " + topLevelName(landing) + " through " + name;
    }
    return {};
}

bool PackageFiles::bak()
{
    backFilesInfo.clear();
    addedFiles.clear();
    addedDirs.clear();
    QSet<QByteArray> seenDirs;
    const QByteArray download = QFile::encodeName(downloadDir());
    for (const QByteArray& name : std::as_const(newFilesInfo)) {
        struct stat info {};
        const bool exists = statLink(installed(name), &info);
        struct stat unpacked {};
        const bool emptyDir = statLink(download + name, &unpacked) && S_ISDIR(unpacked.st_mode);
        // cp cannot put a file in place of a directory: that copy fails and
        // the roll-back must leave the directory alone.
        if (exists && S_ISDIR(info.st_mode))
            continue;
        if (!emptyDir)
            (exists ? backFilesInfo : addedFiles).append(name);
        const QByteArray withSlash = emptyDir && !exists ? name + '/' : name;
        for (qsizetype slash = withSlash.indexOf('/', 1); slash > 0;
             slash = withSlash.indexOf('/', slash + 1)) {
            const QByteArray dir = withSlash.left(slash);
            if (!seenDirs.contains(dir) && !present(installed(dir)))
                addedDirs.append(dir);
            seenDirs.insert(dir);
        }
    }
    // Deepest first, so each is empty when its turn to go comes.
    std::stable_sort(
        addedDirs.begin(), addedDirs.end(),
        [](const QByteArray& a, const QByteArray& b) { return a.count('/') > b.count('/'); });
    if (!installJournal.writeList(replacedList, relative(backFilesInfo)) ||
        !installJournal.writeList(addedList, relative(addedFiles)) ||
        !installJournal.writeList(addedDirList, relative(addedDirs)))
        return false;
    return executeShellChecked(
        freshDirectory(bakDir()) + " && cd -- " + shellQuote(basePath) + " && " +
        linkOrCopy(installJournal.listPath(replacedList), bakDir()) + " && " + syncLine());
}

bool PackageFiles::copy()
{
    return installJournal.writeList(packageList, relative(newFilesInfo)) &&
           executeShellChecked(syncLine() + " && cd -- " + shellQuote(downloadDir()) + " && " +
                               linkOrCopy(installJournal.listPath(packageList), basePath) + " && " +
                               syncLine());
}

QString PackageFiles::freshDirectory(const QString& dir)
{
    // Work directories are the updater's own, whatever the umask.
    const QString make = "mkdir -m 0700 -- " + shellQuote(dir);
    return present(QFile::encodeName(dir)) ? "rm -rf -- " + shellQuote(dir) + " && " + make : make;
}

QString PackageFiles::syncLine() const
{
    return "sync -f -- " + shellQuote(basePath);
}

bool PackageFiles::backupFile(const QString& targetDir, const QString& name,
                              const QString& sourceDir)
{
    if (!present(QFile::encodeName(sourceDir + name)))
        return false;
    // Already the same file: ln and cp would refuse it, and nothing is to be done.
    if (sameEntry(QFile::encodeName(sourceDir + name), QFile::encodeName(targetDir + name)))
        return true;
    return executeShellChecked(linkOrCopyFile(sourceDir + name, targetDir + name));
}

QString PackageFiles::linkOrCopyFile(const QString& from, const QString& to)
{
    // A link where it can be: no space needed, and the target is replaced at once.
    const QString paths = shellQuote(from) + ' ' + shellQuote(to);
    return "{ ln -f -- " + paths + " 2>/dev/null || cp -a --remove-destination -- " + paths + "; }";
}

bool PackageFiles::scrollBack()
{
    // Only what the copy changed is put back: an entry that is still the
    // saved one may be one that cannot be replaced at all, such as a file on
    // a read-only mount.
    FileNames changed;
    const QByteArray bak = QFile::encodeName(bakDir());
    for (const QByteArray& name : std::as_const(backFilesInfo)) {
        if (!sameEntry(bak + name, installed(name)))
            changed.append(name);
    }
    if (!installJournal.writeList(restoredList, relative(changed)))
        return false;
    // Added files go first: a restored link may point at a name the package
    // also brought. An added directory that is not empty stays.
    const bool ran = executeShellChecked(
        "cd -- " + shellQuote(basePath) + " && xargs -0 -r -a " +
        shellQuote(installJournal.listPath(addedList)) + " rm -f -- && { xargs -0 -r -a " +
        shellQuote(installJournal.listPath(addedDirList)) +
        " rmdir --ignore-fail-on-non-empty -- 2>/dev/null; cd -- " + shellQuote(bakDir()) + " && " +
        linkOrCopy(installJournal.listPath(restoredList), basePath) + "; }");
    return ran && std::all_of(backFilesInfo.cbegin(), backFilesInfo.cend(),
                              [this](const QByteArray& name) { return unchanged(name); });
}

bool PackageFiles::unchanged(const QByteArray& name) const
{
    if (backFilesInfo.contains(name))
        return sameEntry(QFile::encodeName(bakDir()) + name, installed(name));
    return !addedFiles.contains(name) || !present(installed(name));
}

bool PackageFiles::sameEntry(const QByteArray& saved, const QByteArray& current)
{
    struct stat a {};
    struct stat b {};
    if (!statLink(saved, &a) || !statLink(current, &b))
        return false;
    // The backup is a hard link where the file system allowed one.
    if (a.st_dev == b.st_dev && a.st_ino == b.st_ino)
        return true;
    if ((a.st_mode & S_IFMT) != (b.st_mode & S_IFMT))
        return false;
    if (S_ISLNK(a.st_mode))
        return linkTarget(saved) == linkTarget(current);
    return S_ISREG(a.st_mode) && a.st_size == b.st_size && sameBytes(saved, current);
}

void PackageFiles::loadJournal()
{
    backFilesInfo = rooted(installJournal.readList(replacedList));
    addedFiles = rooted(installJournal.readList(addedList));
    addedDirs = rooted(installJournal.readList(addedDirList));
}
