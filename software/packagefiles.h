#pragma once

#include "software/installjournal.h"

#include <QByteArray>
#include <QSet>
#include <QString>

// The temporary copy of the connection manager's private data, under the
// installation directory.
inline constexpr char privateDataBackup[] = "/.private_data_bak";

// File work on the installation directory: unpack a package into "/download",
// back up what it will replace into "/bak", copy it over the installation and
// put the backup back. Each step is a fixed number of shell lines whatever the
// number of files: the names go to the tools as NUL-separated lists in the
// install journal, so they stay bytes and never pass through a shell word.
// Names in both lists begin with "/" and are relative to the root of the
// unpacked package; files and symbolic links are listed, links as links.
class PackageFiles final {
public:
    explicit PackageFiles(QString basePath);

    // Unpacks into "/download", writable by the owner alone, and lists its
    // files in newFilesInfo; false (the list untouched) when no shell ran,
    // unzip reported more than warnings or the modes could not be set.
    bool unzip(const QString& packagePath);
    // Unpacks into directory, made afresh; false when unzip reported more than warnings.
    static bool unpack(const QString& packagePath, const QString& directory);
    // A tree unpacked or rebuilt elsewhere becomes "/download", listed in
    // newFilesInfo; false when it could not be moved or holds nothing.
    bool adopt(const QString& tree);
    // Lists the tree already in "/download" (rebuilt there from a delta) in
    // newFilesInfo.
    void listUnpacked();
    // Removes a file or a whole directory; false only when no shell ran.
    bool del(const QString& path);
    // Why the unpacked package cannot be installed safely: a top-level name in
    // reserved, a link that leads out of the installation, or a name whose
    // directories, through links installed or in the package, lead out of it
    // or into a reserved name. Empty when it can.
    QByteArray refusal(const QSet<QByteArray>& reserved) const;
    // The same for the names of a tree unpacked elsewhere, before the copy.
    static QByteArray treeRefusal(const QString& basePath, const QString& tree,
                                  const FileNames& names, const QSet<QByteArray>& reserved);
    // Saves every installed file and link the package replaces under "/bak",
    // keeping its relative path, and writes the journal's lists of what is
    // replaced and what is added; true once all of it is on disk.
    bool bak();
    // Copies the unpacked package over the installation once everything
    // written before is on disk; true once the copy is on disk too.
    bool copy();
    // The line that puts the installation's file system on disk.
    QString syncLine() const;
    // Copies sourceDir + name over targetDir + name; false when the source is
    // missing or the copy failed.
    bool backupFile(const QString& targetDir, const QString& name, const QString& sourceDir);
    // The command that makes dir an empty directory.
    static QString freshDirectory(const QString& dir);
    // The command that links, or where it cannot copies, from over to.
    static QString linkOrCopyFile(const QString& from, const QString& to);
    // Undoes a copy: removes the files the package added, puts back the saved
    // ones that the copy changed and checks each of them; false when anything
    // is not back.
    bool scrollBack();
    // Whether the installed entry name is the one from before the install:
    // the saved one, or absent when the package added it.
    bool unchanged(const QByteArray& name) const;
    // Whether two entries are one: the same inode, or the same type and the
    // same bytes or link target.
    static bool sameEntry(const QByteArray& saved, const QByteArray& current);
    // The lists bak() wrote, for a run that did not make them itself.
    void loadJournal();

    // Appends the files, links and empty directories under dir (directories
    // are entered, linked ones are not; names with a leading dot directly in
    // root are left out), case-insensitively by name, each as its path with
    // the leading root cut off.
    static void getAllFileName(const QByteArray& dir, FileNames* list, const QByteArray& root);

    const InstallJournal& journal() const { return installJournal; }

    FileNames newFilesInfo;
    FileNames backFilesInfo;

private:
    QString downloadDir() const { return basePath + QLatin1String("/download"); }
    QString bakDir() const { return basePath + QLatin1String("/bak"); }
    QByteArray installed(const QByteArray& name) const;

    QString basePath;
    InstallJournal installJournal;
    FileNames addedFiles;
    FileNames addedDirs;
};
