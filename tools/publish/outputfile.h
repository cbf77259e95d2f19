#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Writes content to path all-or-nothing: into a temporary file beside it with
// the given mode, synced, then renamed into place (or, with keepExisting, linked
// into place only when path does not exist yet). False with error set when any
// step fails; nothing is left behind then.
bool writeOutputFile(const QString& path, const QByteArray& content, mode_t mode, bool keepExisting,
                     QString& error);
