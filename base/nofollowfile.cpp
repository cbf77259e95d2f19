#include "base/nofollowfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool openRegularFileNoFollow(QFile& file, const QString& path)
{
    // O_NONBLOCK: a FIFO put under the name must not hold the updater up.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}
