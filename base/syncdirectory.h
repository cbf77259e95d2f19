#pragma once

#include <QString>

// Puts a directory's entries on disk: a rename or a link that published a file
// survives a power cut only once its directory does. False when it could not.
bool syncDirectory(const QString& directory);
