#pragma once

#include <QByteArray>
#include <QString>

// True for a name that stays inside the directory it is joined to and reaches
// the agent unchanged: not empty, not "." or "..", no "/", none of the
// pattern characters * ? [ ] \, no control character, and nothing that
// UTF-8 cannot carry as it is (a lone surrogate) or that is no character at
// all (a non-character).
bool isPlainFileName(const QString& name);

// The same for a name that stays bytes (a package member's path component, as
// the file system will have it): any bytes but "/", control bytes and the
// pattern characters; it need not be UTF-8.
bool isPlainNameBytes(const QByteArray& name);
