#pragma once

#include <QFile>
#include <QString>

// Opens path for reading into file without following a link: a link, or
// anything but a regular file, under that name is not opened. What is then
// read is the file that was checked, whatever is renamed over the name later.
bool openRegularFileNoFollow(QFile& file, const QString& path);
