#pragma once

#include "base/ascaller.h"

#include <QString>

// How one file of the caller's folder was taken: copied, not there, or
// refused (a link, no regular file, too large, unreadable for the caller).
struct FolderCopy {
    enum class Outcome { Copied, Absent, Refused };
    Outcome outcome;
    QString refusal{}; // why, when refused
};

// Copies folder + "/" + name to target, all-or-nothing and synced. The file
// is opened with the caller's ids and without following a link, then read
// from that one descriptor as root: what is checked later is this copy,
// whatever happens to the folder afterwards.
FolderCopy copyFromFolder(const QString& folder, const CallerIds& caller, const QString& name,
                          const QString& target, qint64 maxBytes);
