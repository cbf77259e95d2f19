#pragma once

#include <QString>

class PackageFiles;

// Whether the modem's flasher takes a file of a firmware package, named relative
// to the package's root with a leading "/" ("/amss.mbn", "/efs/nv.cfg").
bool isFlashableFile(const QString& name);

// Leaves only the flashable regular files of the package just unpacked into
// downloadDir, removing every other file; false when none is left.
bool keepFlashableFiles(const PackageFiles& files, const QString& downloadDir);
