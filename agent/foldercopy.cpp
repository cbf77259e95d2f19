#include "agent/foldercopy.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 copyBlock = qint64(1) << 20;

// Only what the caller may read, never through a link, never blocking on a
// FIFO; -1 with error set otherwise.
int openAsCaller(const CallerIds& caller, const QString& path, int& error)
{
    const AsCaller as(caller);
    const int fd = as.ok() ? ::open(QFile::encodeName(path).constData(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
                           : -1;
    error = as.ok() ? errno : EPERM;
    return fd;
}

QString openRefusal(int error)
{
    if (error == ELOOP)
        return QStringLiteral("a link");
    if (error == EACCES || error == EPERM)
        return QStringLiteral("the caller cannot read it");
    return QString::fromLocal8Bit(std::strerror(error));
}

QString tooLarge(qint64 maxBytes)
{
    return QStringLiteral("larger than %1 bytes").arg(maxBytes);
}

// The bytes of the open file into target; empty, or why not.
QString copyOpened(int fd, const QString& target, qint64 maxBytes)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return QStringLiteral("not a regular file");
    if (info.st_size > maxBytes)
        return tooLarge(maxBytes);
    QFile source;
    QSaveFile copy(target);
    if (!source.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) ||
        !copy.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot copy to %1").arg(target);
    qint64 copied = 0;
    for (QByteArray block = source.read(copyBlock); !block.isEmpty();
         block = source.read(copyBlock)) {
        copied += block.size();
        // A file that grows while it is read is cut off here, never followed.
        if (copied > maxBytes)
            return tooLarge(maxBytes);
        if (copy.write(block) != block.size())
            return QStringLiteral("cannot copy to %1").arg(target);
    }
    if (source.error() != QFileDevice::NoError)
        return QStringLiteral("cannot read it: %1").arg(source.errorString());
    return copy.commit() ? QString() : QStringLiteral("cannot copy to %1").arg(target);
}

} // namespace

FolderCopy copyFromFolder(const QString& folder, const CallerIds& caller, const QString& name,
                          const QString& target, qint64 maxBytes)
{
    int error = 0;
    const int fd = openAsCaller(caller, folder + '/' + name, error);
    if (fd < 0)
        return error == ENOENT ? FolderCopy{FolderCopy::Outcome::Absent}
                               : FolderCopy{FolderCopy::Outcome::Refused, openRefusal(error)};
    const QString refusal = copyOpened(fd, target, maxBytes);
    ::close(fd);
    if (refusal.isEmpty())
        return {FolderCopy::Outcome::Copied};
    return {FolderCopy::Outcome::Refused, refusal};
}
