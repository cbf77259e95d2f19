#pragma once

#include <QByteArray>
#include <QString>

// What the signed description says about a delta file.
struct DeltaExpectation {
    QByteArray sha256;         // of the whole file
    QByteArray manifestDigest; // of its manifest
    qint64 packageSize;        // of the full package the delta stands for
};

struct RebuildResult {
    enum class Outcome {
        Rebuilt,      // every file made and matching its SHA-256
        BaseMismatch, // the base here is not the delta's, or a made file differs
        Refused,      // the delta itself is bad: digest, format, names, memory
    };
    Outcome outcome = Outcome::Refused;
    QString reason;
};

// Makes the new package's tree under outputRoot (which must not exist) from
// the delta file and the base tree under baseRoot. Nothing outside
// outputRoot is written, and no more than the manifest declares, which may
// not exceed 4 times the full package nor the free space of outputRoot's file
// system less 10 MiB. Made files are writable by their owner only; after anything but Rebuilt,
// outputRoot may hold a part of the tree, for the caller to remove.
RebuildResult rebuildFromDelta(const QString& deltaPath, const DeltaExpectation& expected,
                               const QString& baseRoot, const QString& outputRoot);
