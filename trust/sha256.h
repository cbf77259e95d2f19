#pragma once

#include <QByteArray>
#include <QString>

// The SHA-256 of a file as 64 lowercase hexadecimal digits; empty when the file
// cannot be read to its end.
QByteArray sha256OfFile(const QString& path);

// Whether text is written as a SHA256 attribute must be: 64 lowercase hex digits.
bool isSha256Text(const QString& text);
