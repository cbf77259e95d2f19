#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The delta that rebuilds the unpacked package under newRoot from the one
// under baseRoot: for each file the base has under the same name, the
// smallest of a zstd patch, a suffix-sorting difference, a difference of
// x86-64 ELF files that predicts their moved references and a compressed
// copy; a compressed copy for each new one, links and removed names as such.
// nullopt with error set when a tree cannot be read or holds a name a
// manifest cannot carry.
std::optional<QByteArray> makeDelta(const QString& baseRoot, const QString& newRoot,
                                    QString& error);

// The SHA-256 of the manifest in a delta file's bytes, lowercase hex; empty
// when the bytes are no delta.
QByteArray manifestDigest(const QByteArray& deltaBytes);
