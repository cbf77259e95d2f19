#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <sys/types.h>

// One file or symbolic link of an unpacked package, named relative to its root
// without a leading "/" (bytes, as the file system has them).
struct TreeEntry {
    QByteArray path;
    bool link = false;
    mode_t mode = 0;   // permission bits of a file
    qint64 size = 0;   // of a file
    QByteArray sha256; // of a file's content, lowercase hex
    QByteArray target; // of a link
};

using PackageTree = QList<TreeEntry>;

// Every file and link under root, directories entered but linked ones not,
// sorted by name; nullopt when something cannot be read or is neither.
std::optional<PackageTree> listPackageTree(const QString& root);

// What identifies a tree as the base of a delta: names, contents and link
// targets. Modes are left out, as they depend on the unpacking tool.
QByteArray treeDigest(const PackageTree& tree);

// The entry named path, or nullptr.
const TreeEntry* findEntry(const PackageTree& tree, const QByteArray& path);
