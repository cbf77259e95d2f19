#include "outputfile.h"

#include "base/syncdirectory.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const QByteArray& content)
{
    const char* data = content.constData();
    size_t left = static_cast<size_t>(content.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

QString systemError(const QString& what, const QString& path)
{
    return QStringLiteral("cannot %1 %2: %3")
        .arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

bool writeOutputFile(const QString& path, const QByteArray& content, mode_t mode, bool keepExisting,
                     QString& error)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray directory = QFile::encodeName(QFileInfo(path).absolutePath());
    QByteArray temporary = directory + "/.cmupdater-publish-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = systemError(QStringLiteral("write into"), QFile::decodeName(directory));
        return false;
    }
    const bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, content) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    bool placed = false;
    if (written) {
        placed = keepExisting ? ::link(temporary.constData(), target.constData()) == 0
                              : ::rename(temporary.constData(), target.constData()) == 0;
    } else {
        errno = savedErrno;
    }
    if (!placed) {
        error = systemError(QStringLiteral("write"), path);
        ::unlink(temporary.constData());
        return false;
    }
    if (keepExisting)
        ::unlink(temporary.constData());
    syncDirectory(QFileInfo(path).absolutePath());
    return true;
}

bool mayOverwrite(const QString& path, bool (*ownOutput)(const QByteArray& head), bool force,
                  QString& error)
{
    QFile file(path);
    if (force || !file.exists())
        return true;
    if (file.open(QIODevice::ReadOnly) && ownOutput(file.read(4096)))
        return true;
    error = QStringLiteral("%1 exists and is not an output of this command; give --force to "
                           "replace it")
                .arg(path);
    return false;
}

bool isDescriptionOutput(const QByteArray& head)
{
    return head.contains("<UpdateDescription>");
}

bool isDeltaOutput(const QByteArray& head)
{
    return head.startsWith("cmupdater-delta 1 ");
}
