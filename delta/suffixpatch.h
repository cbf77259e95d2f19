#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

struct SuffixPatchResult {
    enum class Outcome {
        Made,        // exactly size bytes, every stream read to its end
        Corrupt,     // the payload does not describe a file of this size from old
        WriteFailed, // the sink refused a piece
    };
    Outcome outcome = Outcome::Corrupt;
    QString reason;
};

// Makes the file of size bytes that a payload of suffixDiff describes from
// old, handing it to sink in pieces of at most 64 KiB. Nothing in the payload
// is trusted: every add, copy and move is bounded by old, by size and by the
// streams' lengths, and each stream's frame may ask for a window of at most
// 2^suffixStreamWindowLog bytes, so memory stays bounded whatever it says.
SuffixPatchResult applySuffixDiff(QByteArrayView old, QByteArrayView payload, qint64 size,
                                  const std::function<bool(QByteArrayView)>& sink);
