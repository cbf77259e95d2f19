#pragma once

#include <QString>

#include <optional>

// Times in a description are UTC, written exactly as 2026-12-08T10:00:00Z.

// Seconds since the epoch; nothing for text in any other form or for a date
// that does not exist.
std::optional<qint64> parseUtcTime(const QString& text);

QString formatUtcTime(qint64 secondsSinceEpoch);

// A clock may be off by some hours; a description issued further ahead than
// this would, once recorded, have every later genuine one refused as replayed.
inline constexpr qint64 issuedAheadAllowance = 24 * 60 * 60;
// The publisher signs no description valid for longer than this after Issued.
inline constexpr qint64 longestValidity = 90 * 24 * 60 * 60;
