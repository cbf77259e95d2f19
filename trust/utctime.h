#pragma once

#include <QString>

#include <optional>

// Times in a description are UTC, written exactly as 2026-12-08T10:00:00Z.

// Seconds since the epoch; nothing for text in any other form or for a date
// that does not exist.
std::optional<qint64> parseUtcTime(const QString& text);

QString formatUtcTime(qint64 secondsSinceEpoch);
