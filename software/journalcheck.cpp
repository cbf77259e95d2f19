#include "software/journalcheck.h"

#include "base/nofollowfile.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray infoRefusal(const struct stat& info, bool directory)
{
    if (directory ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode))
        return directory ? "not a directory" : "not a regular file";
    if (info.st_uid != ::geteuid())
        return "owned by uid " + QByteArray::number(info.st_uid);
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "writable by others, mode " + QByteArray::number(info.st_mode & 07777, 8);
    return {};
}

} // namespace

QByteArray stateFileRefusal(const QString& path, bool directory)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    const QByteArray refusal = infoRefusal(info, directory);
    return refusal.isEmpty() ? refusal : QFile::encodeName(path) + ": " + refusal;
}

std::optional<QByteArray> readStateFile(const QString& path)
{
    QFile file;
    if (!openRegularFileNoFollow(file, path))
        return std::nullopt;
    // Checked on what was opened, so nothing can be swapped in between.
    struct stat info {};
    if (::fstat(file.handle(), &info) != 0 || !infoRefusal(info, false).isEmpty())
        return std::nullopt;
    return file.readAll();
}

QByteArray listedNameRefusal(const QByteArray& name)
{
    if (name.isEmpty())
        return "an empty name";
    if (name.startsWith('/'))
        return "an absolute name " + name;
    for (const QByteArray& part : name.split('/')) {
        if (part == "..")
            return "a name leading out " + name;
    }
    return {};
}
