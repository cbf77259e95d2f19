// The delta reader, fed any bytes twice: as a whole delta file, and as the text
// of a manifest, stored compressed as in a delta. It must answer with a
// manifest or with nothing, never crash, and a manifest it accepts must name
// nothing outside the tree and read back the same once written out again.

#include "delta/deltafile.h"

#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr qint64 manifestPayloadSize = 4096;

QByteArray stored(const QByteArray& text)
{
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(text.size()))), '\0');
    out.truncate(qsizetype(
        ZSTD_compress(out.data(), size_t(out.size()), text.constData(), size_t(text.size()), 1)));
    return out;
}

bool controlFree(const QByteArray& text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

bool insideTree(const QByteArray& path)
{
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty() || part == "." || part == "..")
            return false;
    }
    return controlFree(path);
}

void check(const DeltaManifest& manifest, qint64 payloadSize)
{
    for (const DeltaEntry& entry : manifest.entries) {
        if (!insideTree(entry.path) || !controlFree(entry.target) ||
            entry.offset + entry.length > payloadSize)
            std::abort();
    }
    const QByteArray text = formatManifest(manifest);
    const std::optional<DeltaManifest> again = parseManifest(stored(text), payloadSize);
    if (!again || formatManifest(*again) != text)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const std::optional<DeltaFileParts> parts = splitDeltaFile(bytes, bytes.size())) {
        const qint64 payloadSize = bytes.size() - parts->payloadOffset;
        if (const std::optional<DeltaManifest> manifest =
                parseManifest(parts->manifest, payloadSize))
            check(*manifest, payloadSize);
    }
    if (const std::optional<DeltaManifest> manifest =
            parseManifest(stored(bytes), manifestPayloadSize))
        check(*manifest, manifestPayloadSize);
    return 0;
}
