#include "firmware/firmwareimage.h"

#include "software/packagefiles.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The modem's boot loaders, partition table, program loader and main image
// sit at the package's root; its file system image is the tree below "/efs/".
const char* const imageFiles[] = {
    "/armprg.hex", "/partition.mbn", "/qcsbl.mbn", "/qcsblhd_cfgdata.mbn",
    "/oemsbl.mbn", "/oemsblhd.mbn",  "/amss.mbn",  "/amsshd.mbn",
    "/boot.mbn"};
const char fileSystemDir[] = "/efs/";

} // namespace

bool isFlashableFile(const QString& name)
{
    // Packages are made on Windows, where letter case carries no meaning.
    if (name.startsWith(QLatin1String(fileSystemDir), Qt::CaseInsensitive))
        return true;
    for (const char* file : imageFiles) {
        if (name.compare(QLatin1String(file), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool keepFlashableFiles(const PackageFiles& files, const QString& downloadDir)
{
    int kept = 0;
    for (const QByteArray& name : files.newFilesInfo) {
        // Names are bytes: one that is not valid in the locale must still go.
        const QByteArray path = QFile::encodeName(downloadDir) + name;
        struct stat entry {};
        // The flasher skips links, so a linked name counts for nothing.
        if (isFlashableFile(QFile::decodeName(name)) && lstat(path.constData(), &entry) == 0 &&
            S_ISREG(entry.st_mode))
            ++kept;
        else
            unlink(path.constData());
    }
    return kept > 0;
}
