#pragma once

#include "trust/keylist.h"

#include <QString>

#include <optional>

// The keys an installation trusts: the list "trusted-keys.xml" once it took a
// published one, before that the one key "update-key.pem" as version 1. Only
// a newer list signed by a key of the one held replaces it; nothing else
// changes the keys.

QString updateKeyPath(const QString& basePath);
QString keyListPath(const QString& basePath);

// Whether the installation holds keys (then it takes only what they signed).
bool holdsUpdateKeys(const QString& basePath);

// The list the installation holds; nullopt, with refusal naming the file,
// when it cannot be read or is not a list. The installed list is taken only
// as the updater wrote it: a regular file of its own, writable by no one else.
std::optional<KeyList> installedKeyList(const QString& basePath, QString& refusal);

// Takes the list "Keys.xml" (with "Keys.xml.sig") that the agent left, when
// current signed it and its version is higher: it is installed durably before
// it becomes current. A list that is not taken is ignored with one line on
// the warning channel; the two files are removed either way.
void takePublishedKeyList(const QString& basePath, KeyList& current);
