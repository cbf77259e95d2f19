#pragma once

#include <QString>

// Checks on the installation's own files that never follow a link: a package
// may bring links that point anywhere, and nothing the updater does as root
// may reach through one of them.

// Whether path is a regular file itself, not a link to one.
bool isRegularFileNoFollow(const QString& path);

// Sets the set-user-id bit on the connection manager cmName in basePath, when
// it is a plain program name and a regular file there; false when it is not.
bool setConnectionManagerUserId(const QString& basePath, const QString& cmName);
