#pragma once

#include <QByteArray>
#include <QString>

// The SHA-256 of a file as 64 lowercase hexadecimal digits; empty when the file
// cannot be read to its end.
QByteArray sha256OfFile(const QString& path);

// The SHA-256 of the file at path, opened without following a link, read
// once while it is copied to a new file that only the updater can write; the
// copy then takes the file's name, so what is unpacked later is exactly the
// bytes hashed, whatever writes to the old file meanwhile. Empty when it could
// not be read or copied (nothing under the name is changed then).
QByteArray sha256IntoOwnCopy(const QString& path);

// Whether text is written as a SHA256 attribute must be: 64 lowercase hex digits.
bool isSha256Text(const QString& text);
