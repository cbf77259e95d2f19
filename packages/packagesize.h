#pragma once

#include <QString>

// A package's Size in whole kilobytes, rounded up so that no package shows
// as empty; text that is no number counts as 0, and a negative size is
// truncated toward zero.
inline QString sizeInKilobytes(const QString& size)
{
    const qint64 bytes = size.toLongLong();
    return QString::number(bytes > 0 ? (bytes - 1) / 1024 + 1 : bytes / 1024);
}
