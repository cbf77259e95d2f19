#pragma once

#include "delta/suffixpatch.h"

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

// A fuzz input for a file applier: the first four bytes are the size to make
// (little-endian, below 1 MiB), the next two the base's length, then the
// base, then the payload.
struct PatchInput {
    qint64 wanted = 0;
    QByteArrayView base;
    QByteArrayView payload;
};

inline std::optional<PatchInput> splitPatchInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return std::nullopt;
    std::uint32_t wanted = 0;
    std::uint16_t baseLength = 0;
    std::memcpy(&wanted, data, sizeof wanted);
    std::memcpy(&baseLength, data + 4, sizeof baseLength);
    if (baseLength > size - 6)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const char*>(data + 6);
    return PatchInput{
        wanted % (1024 * 1024), QByteArrayView(bytes, baseLength),
        QByteArrayView(bytes + baseLength, static_cast<qsizetype>(size - 6 - baseLength))};
}

// Applies the suffix difference payload to base: it must make exactly wanted
// bytes in pieces of at most 64 KiB, or say the payload is corrupt having made
// no more than that.
inline void applyWithinBounds(QByteArrayView base, QByteArrayView payload, qint64 wanted)
{
    qint64 made = 0;
    const SuffixPatchResult result =
        applySuffixDiff(base, payload, wanted, [&made, wanted](QByteArrayView piece) {
            made += piece.size();
            if (piece.size() > 64 * 1024 || made > wanted)
                std::abort();
            return true;
        });
    if (result.outcome == SuffixPatchResult::Outcome::Made && made != wanted)
        std::abort();
}
