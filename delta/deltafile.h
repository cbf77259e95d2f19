#pragma once

#include <QByteArray>
#include <QList>

#include <optional>
#include <sys/types.h>

// A delta file: one header line "cmupdater-delta 1 LENGTH", the manifest of
// LENGTH bytes (one zstd frame), then the payload its entries point into.
//
// The manifest is text, one entry a line, fields separated by tabs, the name
// last: "base DIGEST" (the tree digest of the base), then
//   "same MODE NAME" (the base's file of the same name, unchanged: the tree
//       digest covers its content),
//   "patch MODE SIZE SHA256 OFFSET LENGTH NAME" (a zstd frame made with the
//       base's file of the same name as its prefix),
//   "full MODE SIZE SHA256 OFFSET LENGTH NAME" (a zstd frame of its own),
//   "diff MODE SIZE SHA256 OFFSET LENGTH NAME" (a suffix-sorting difference
//       against the base's file of the same name, see suffixdiff.h),
//   "elf MODE SIZE SHA256 OFFSET LENGTH NAME" (a difference of x86-64 ELF
//       files that predicts their moved references, see elfdiff.h),
//   "link TARGET NAME" and "removed NAME" (a file of the base the new
//   package no longer has).
struct DeltaEntry {
    enum class Kind { Same, Patch, Diff, Elf, Full, Link, Removed };
    Kind kind = Kind::Full;
    QByteArray path;
    mode_t mode = 0;
    qint64 size = 0;
    QByteArray sha256;
    qint64 offset = 0;
    qint64 length = 0;
    QByteArray target;

    static DeltaEntry file(Kind kind, const QByteArray& path, mode_t mode, qint64 size,
                           const QByteArray& sha256);
    static DeltaEntry link(const QByteArray& path, const QByteArray& target);
    static DeltaEntry removed(const QByteArray& path);
};

struct DeltaManifest {
    QByteArray baseDigest;
    QList<DeltaEntry> entries;
};

QByteArray formatManifest(const DeltaManifest& manifest);
QByteArray deltaFileBytes(const QByteArray& manifest, const QByteArray& payload);

struct DeltaFileParts {
    QByteArray manifest;      // as stored: the bytes its digest is taken of
    qint64 payloadOffset = 0; // from the start of the file
};

// The manifest of a delta file of fileSize bytes whose start is head; nullopt
// when the header is malformed or the manifest does not fit the file.
std::optional<DeltaFileParts> splitDeltaFile(const QByteArray& head, qint64 fileSize);

// The entries of a stored manifest whose payload has payloadSize bytes; nullopt for
// anything malformed or unsafe: a name that is absolute, has an empty, "." or
// ".." component or a control character, a link target with a control
// character, a name given twice, a name below
// another entry that is not a directory, a range outside the payload.
std::optional<DeltaManifest> parseManifest(const QByteArray& stored, qint64 payloadSize);

// The longest manifest a delta may carry, and the most files it may make.
inline constexpr qint64 maxManifestBytes = 16 * 1024 * 1024;
inline constexpr qsizetype maxDeltaEntries = 200000;
