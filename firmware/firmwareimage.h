#pragma once

#include <QString>

class PackageFiles;

// Whether the firmware package just unpacked into downloadDir holds at least
// one regular file for the flasher; every file it holds goes to the flasher.
bool holdsFlashableFile(const PackageFiles& files, const QString& downloadDir);
