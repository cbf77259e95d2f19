#pragma once

#include <QString>

// At start: when an earlier run left the marker or the journal of an install
// it did not end, puts the installation and the private data back from the
// journal, or finishes the install where its copy had ended, then removes the
// work directories and the marker. Says what it did in one line on the warning
// channel. Leaves the marker when something could not be put back.
void recoverInterruptedInstall(const QString& basePath, const QString& cmName);
