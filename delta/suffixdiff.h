#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// A difference of two files for compiled code, where a new release moves
// addresses by a constant: the longest approximate matches against the old
// file (found through its suffix array) become a control stream of triples,
// a difference stream (new minus old, byte-wise: mostly zeros where only
// addresses moved) and an extra stream of bytes the old file lacks.
//
// The payload is three zstd frames back to back: control, difference, extra.
// The difference stream is pairs of a LEB128 count of zero bytes and the one
// byte that follows them.
// The control stream is the old position to start at, then triples of
// LEB128 numbers: the bytes to add to the old file, the bytes to take from the
// extra stream, then the move of the old position after both (zig-zag
// signed). A triple always makes at least one byte.

// The largest old file a difference may refer to: the updater maps it whole.
inline constexpr qint64 maxSuffixBaseBytes = qint64(64) * 1024 * 1024;
// The window each stream's frame may ask for: three of them beside the
// mapped old file stay well below 100 MiB.
inline constexpr int suffixStreamWindowLog = 23;

// The payload that makes updated from old; empty when old is too large or
// compression fails.
QByteArray suffixDiff(QByteArrayView old, QByteArrayView updated);

// A stretch of the new file made by adding differences to the old file's
// bytes: the approximate matches the difference is built of.
struct SuffixMatch {
    qint64 oldStart = 0;
    qint64 newStart = 0;
    qint64 length = 0;
};

// The matches suffixDiff would use, in the new file's order; empty when old
// is too large.
std::vector<SuffixMatch> suffixMatches(QByteArrayView old, QByteArrayView updated);
