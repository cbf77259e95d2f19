#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A difference of two x86-64 ELF files (executables or shared objects) that
// knows their references (see elfreferences.h). The publisher pairs each
// reference of the old file with the new file's reference at the same place
// of an approximate match (suffixMatches): where its target and its base
// went says where that old address went. Those answers, by majority, make a
// shift map that travels with the delta. The old file's references are
// rewritten as the map predicts them (a call whose target moved with its
// code gets the new file's displacement), and what is left is an ordinary
// suffix-sorting difference from the predicted file to the new one, where a
// correctly predicted reference costs nothing.
//
// The payload: one zstd frame of the shift map (formatShiftMap), then the
// three frames of a suffixDiff payload from the predicted old file.

// The largest old file: the updater holds it mapped and predicted, 64 MiB.
inline constexpr qint64 maxElfBaseBytes = qint64(32) * 1024 * 1024;
// The most breakpoints a shift map may hold: 4 MiB of memory at most.
inline constexpr qint64 maxShiftMapEntries = qint64(1) << 18;

// The payload that makes updated from old; empty when either is no ELF file
// parseElf reads, old is too large or compression fails.
QByteArray elfDiff(QByteArrayView old, QByteArrayView updated);
