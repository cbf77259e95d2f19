#pragma once

#include <QString>
#include <QStringList>

// The temporary copy of the connection manager's private data, under the
// installation directory.
inline constexpr char privateDataBackup[] = "/.private_data_bak";

// File work on the installation directory, done by shell lines: unpack a package
// into "/download", back up what it will replace into "/bak", copy it over the
// installation and put the backup back. Names in both lists begin with "/" and
// are relative to the root of the unpacked package.
class PackageFiles final {
public:
    explicit PackageFiles(QString basePath);

    // Unpacks into "/download" and lists its files in newFilesInfo; false (the
    // list untouched) when no shell ran or unzip reported more than warnings.
    bool unzip(const QString& packagePath);
    // Removes a file or a whole directory; false only when no shell ran.
    bool del(const QString& path);
    // Copies the unpacked package over the installation; false when any part
    // of the copy failed.
    bool copy();
    // Saves every installed file the package replaces under "/bak", keeping its
    // relative path; false at the first save that fails.
    bool bak();
    // Copies sourceDir + name over targetDir + name; false when the source is
    // missing or the copy failed.
    bool backupFile(const QString& targetDir, const QString& name, const QString& sourceDir);
    // Undoes a copy: puts the saved files back, removes the files the package
    // added and drops the private data copy.
    void scrollBack();

    // Appends the regular files under dir, case-insensitively by name, each as
    // its path with the leading root cut off.
    static void getAllFileName(const QString& dir, QStringList* list, const QString& root);

    QStringList newFilesInfo;
    QStringList backFilesInfo;

private:
    QString downloadDir() const { return basePath + QLatin1String("/download"); }
    QString bakDir() const { return basePath + QLatin1String("/bak"); }
    void removeAddedFiles();

    QString basePath;
};
