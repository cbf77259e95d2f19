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

// Whether path may be written: it is absent, it is one of this tool's own
// outputs (ownOutput says so from its first bytes), or force is given. False
// with error set otherwise.
bool mayOverwrite(const QString& path, bool (*ownOutput)(const QByteArray& head), bool force,
                  QString& error);
bool isDescriptionOutput(const QByteArray& head);
bool isDeltaOutput(const QByteArray& head);
