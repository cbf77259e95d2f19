#pragma once

#include "trust/keylist.h"

#include <QStringList>

#include <optional>

// The key list "Keys.xml" (and "Keys.xml.sig") beside a description: says
// what it lists and adds its problems. With trusted, the list an installation
// holds, the published one must be signed by a key of it and be newer;
// without (lint), by a key it lists. Returns the keys the
// description must be signed by: the published list's, or trusted when there
// is no usable list beside it.
std::optional<KeyList> publishedKeyListProblems(const QString& directory,
                                                std::optional<KeyList> trusted,
                                                QStringList& problems);
