#include "firmware/firmwareimage.h"

#include "software/packagefiles.h"

#include <QFile>

#include <algorithm>
#include <sys/stat.h>

bool holdsFlashableFile(const PackageFiles& files, const QString& downloadDir)
{
    const QByteArray root = QFile::encodeName(downloadDir);
    // The flasher skips links, so a linked name counts for nothing.
    return std::any_of(
        files.newFilesInfo.cbegin(), files.newFilesInfo.cend(), [&root](const QByteArray& name) {
            struct stat entry {};
            return lstat((root + name).constData(), &entry) == 0 && S_ISREG(entry.st_mode);
        });
}
