#pragma once

#include <QString>

// The trees of one kind of package at the top of the installation: the one
// kept after its last install or flash (the base the next delta is rebuilt
// from) and one rebuilt from a delta.
struct KeptTrees {
    const char* kind; // for the log
    const char* packageClass;
    const char* kept;
    const char* rebuilt;
};
inline constexpr KeptTrees softwareTrees{"software", "Software Version", ".installed_package",
                                         ".delta_rebuild"};
inline constexpr KeptTrees firmwareTrees{"firmware", "Firmware Version", ".installed_firmware",
                                         ".firmware_rebuild"};

// A tree of the top of the installation, by its name there.
inline QString treePath(const QString& basePath, const char* name)
{
    return basePath + '/' + QLatin1String(name);
}
