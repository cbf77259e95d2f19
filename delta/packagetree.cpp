#include "delta/packagetree.h"

#include "base/sha256.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <climits>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readLink(const QByteArray& path)
{
    QByteArray target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.constData(), target.data(), size_t(target.size()));
    return length < 0 ? QByteArray() : target.left(length);
}

bool listDirectory(const QByteArray& root, const QByteArray& relative, PackageTree& tree)
{
    DIR* stream = ::opendir((root + '/' + relative).constData());
    if (stream == nullptr)
        return false;
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(stream)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(relative.isEmpty() ? name : relative + '/' + name);
    }
    ::closedir(stream);
    for (const QByteArray& name : std::as_const(names)) {
        const QByteArray path = root + '/' + name;
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            return false;
        TreeEntry entry;
        entry.path = name;
        if (S_ISDIR(info.st_mode)) {
            if (!listDirectory(root, name, tree))
                return false;
            continue;
        }
        if (S_ISLNK(info.st_mode)) {
            entry.link = true;
            entry.target = readLink(path);
        } else if (S_ISREG(info.st_mode)) {
            entry.mode = info.st_mode & 07777;
            entry.size = info.st_size;
            entry.sha256 = sha256OfFile(QFile::decodeName(path));
            if (entry.sha256.isEmpty())
                return false;
        } else {
            return false;
        }
        tree.append(entry);
    }
    return true;
}

} // namespace

std::optional<PackageTree> listPackageTree(const QString& root)
{
    PackageTree tree;
    if (!listDirectory(QFile::encodeName(root), QByteArray(), tree))
        return std::nullopt;
    std::sort(tree.begin(), tree.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.path < b.path; });
    return tree;
}

QByteArray treeDigest(const PackageTree& tree)
{
    // NUL-separated: no name or target can hold a NUL.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const TreeEntry& entry : tree) {
        hash.addData(entry.link ? QByteArrayView("L") : QByteArrayView("F"));
        hash.addData(QByteArrayView("\0", 1));
        hash.addData(entry.link ? entry.target : entry.sha256);
        hash.addData(QByteArrayView("\0", 1));
        hash.addData(entry.path);
        hash.addData(QByteArrayView("\0", 1));
    }
    return hash.result().toHex();
}

const TreeEntry* findEntry(const PackageTree& tree, const QByteArray& path)
{
    const auto found = std::lower_bound(
        tree.begin(), tree.end(), path,
        [](const TreeEntry& entry, const QByteArray& name) { return entry.path < name; });
    return found != tree.end() && found->path == path ? &*found : nullptr;
}
