#include "base/syncdirectory.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

bool syncDirectory(const QString& directory)
{
    const int fd =
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}
