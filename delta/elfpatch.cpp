#include "delta/elfpatch.h"

#include "delta/elfdiff.h"
#include "delta/elfreferences.h"
#include "delta/suffixdiff.h"

#include <zstd.h>

#include <array>
#include <memory>

namespace {

using DecompressContext = std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)>;

// A breakpoint takes at most two ten-byte numbers, the count one more.
constexpr qint64 longestMap = 20 * maxShiftMapEntries + 10;

// The map frame's content, at most longestMap bytes; nullopt when the frame
// is not whole, asks for too large a window or says more.
std::optional<QByteArray> decodeMap(QByteArrayView frame)
{
    const DecompressContext context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, suffixStreamWindowLog);
    ZSTD_inBuffer input{frame.data(), size_t(frame.size()), 0};
    QByteArray content;
    std::array<char, 64 * 1024> buffer{};
    size_t pending = 1;
    while (pending != 0) {
        ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
        pending = ZSTD_decompressStream(context.get(), &output, &input);
        if (ZSTD_isError(pending) || content.size() + qint64(output.pos) > longestMap)
            return std::nullopt;
        content.append(buffer.data(), qsizetype(output.pos));
        if (pending != 0 && input.pos == input.size && output.pos < output.size)
            return std::nullopt;
    }
    return content;
}

} // namespace

std::optional<PreparedElfPatch> prepareElfPatch(QByteArrayView old, QByteArrayView payload,
                                                QString& why)
{
    if (old.size() > maxElfBaseBytes) {
        why = QStringLiteral("the base is larger than an ELF difference may refer to");
        return std::nullopt;
    }
    QString problem;
    const std::optional<ElfLayout> layout = parseElf(old, &problem);
    if (!layout) {
        why = QStringLiteral("the base is not an ELF file this reads: %1").arg(problem);
        return std::nullopt;
    }
    const size_t frameLength = ZSTD_findFrameCompressedSize(payload.data(), size_t(payload.size()));
    if (ZSTD_isError(frameLength)) {
        why = QStringLiteral("the shift map is not whole");
        return std::nullopt;
    }
    const std::optional<QByteArray> bytes = decodeMap(payload.first(qsizetype(frameLength)));
    const std::optional<ShiftMap> map =
        bytes ? parseShiftMap(*bytes, maxShiftMapEntries) : std::nullopt;
    if (!map) {
        why = QStringLiteral("the shift map is malformed");
        return std::nullopt;
    }
    return PreparedElfPatch{predictReferences(old, *layout, *map),
                            payload.sliced(qsizetype(frameLength))};
}

SuffixPatchResult applyElfDiff(QByteArrayView old, QByteArrayView payload, qint64 size,
                               const std::function<bool(QByteArrayView)>& sink)
{
    QString why;
    const std::optional<PreparedElfPatch> prepared = prepareElfPatch(old, payload, why);
    if (!prepared)
        return {SuffixPatchResult::Outcome::Corrupt, why};
    return applySuffixDiff(prepared->predicted, prepared->difference, size, sink);
}
