#pragma once

#include "agent/foldersource.h"

#include <optional>

// The folder "--from DIR" names, with the caller's ids to open it with: DIR
// made absolute from the directory the caller started in. Nullopt, with a
// usage line, for a missing or empty DIR.
std::optional<FolderOrigin> callersFolder(int argc, char** argv, int index);

// "cmupdater --from DIR [toolkit arguments]": the window, with the release
// the folder holds in place of the version check's answer.
int runWindowFromFolder(int argc, char** argv);
