#pragma once

#include <QString>

// Why the firmware package at packagePath would not flash: an archive that
// does not open or a member that does not read whole (its CRC), a name that
// would leave the unpacked tree, or no file at all for the flasher. Empty when
// it may be flashed. Checked before anything is stopped.
QString firmwarePackageRefusal(const QString& packagePath);
