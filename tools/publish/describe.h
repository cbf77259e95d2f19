#pragma once

#include <QStringList>

// cmupdater-publish describe [options]: writes a description of a new version
// from the package files. Returns the process's exit status.
int describeCommand(const QStringList& arguments);
