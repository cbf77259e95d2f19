#pragma once

#include <QString>

// Exit statuses: a check or a write failed; the command line was wrong.
inline constexpr int failedStatus = 1;
inline constexpr int usageStatus = 2;

// One line on standard error, prefixed with the program's name.
void fail(const QString& message);
void note(const QString& message);
void warn(const QString& message);
// One line on standard output.
void say(const QString& line);
// What a command wrote, on standard output.
void reportWritten(const QString& path, qint64 bytes);
