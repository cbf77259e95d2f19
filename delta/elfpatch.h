#pragma once

#include "delta/suffixpatch.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

// The old file of an elfDiff payload with its references predicted, and the
// suffix difference that makes the new file from it.
struct PreparedElfPatch {
    QByteArray predicted;
    QByteArrayView difference; // into the payload
};

// Reads the payload's shift map and predicts old's references; nullopt with
// why set when old is no ELF file parseElf reads or larger than
// maxElfBaseBytes, or the map's frame is not whole, asks for a window above
// 2^suffixStreamWindowLog, holds more than maxShiftMapEntries breakpoints or
// anything malformed. Nothing is written: the caller refuses before it makes
// a file.
std::optional<PreparedElfPatch> prepareElfPatch(QByteArrayView old, QByteArrayView payload,
                                                QString& why);

// prepareElfPatch, then applySuffixDiff from the predicted file: exactly size
// bytes to sink in pieces of at most 64 KiB, or Corrupt before the first one
// when the payload or old is not understood.
SuffixPatchResult applyElfDiff(QByteArrayView old, QByteArrayView payload, qint64 size,
                               const std::function<bool(QByteArrayView)>& sink);
