#include "firmware/firmwareimage.h"

#include "software/packagefiles.h"

#include <QFileInfo>

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

bool keepFlashableFiles(PackageFiles& files, const QString& downloadDir)
{
    int kept = 0;
    for (const QString& name : std::as_const(files.newFilesInfo)) {
        // The flasher skips links, so a linked name counts for nothing.
        if (isFlashableFile(name) && !QFileInfo(downloadDir + name).isSymLink())
            ++kept;
        else
            files.del(downloadDir + name);
    }
    return kept > 0;
}
