#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The journal and the marker are read back as root after a crash, so they are
// checked like anything downloaded before they are acted on.

// Why the state file or directory at path may not be trusted: it is a link,
// not of the kind expected, not owned by the updater's effective user, or
// writable by its group or by others. Empty when it may be, or is missing.
QByteArray stateFileRefusal(const QString& path, bool directory = false);

// The content of a state file that passes stateFileRefusal, read without
// following a link; nothing when it is missing or refused.
std::optional<QByteArray> readStateFile(const QString& path);

// Why a name from a journal list may not be acted on: it is empty, absolute
// or has a ".." component. Empty when it may.
QByteArray listedNameRefusal(const QByteArray& name);
