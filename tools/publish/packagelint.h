#pragma once

#include <QString>
#include <QStringList>

// What the updater would make of a package file: refusals (it would not
// install it) and warnings (it would, but likely not as meant).
struct PackageFindings {
    QStringList refusals;
    QStringList warnings;
};

// Opens every member of the package at path. A software package is held to
// the install's rules for names and links; a firmware package only has to be
// a readable archive holding a file. Each line names the file.
PackageFindings packageFindings(const QString& path, bool software);

// Prints the warnings; fails with the first refusal and returns false then.
bool acceptPackageFile(const QString& path, bool software);
