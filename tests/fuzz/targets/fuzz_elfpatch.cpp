// The ELF difference's applier, fed a base file and a payload: the first four
// bytes are the size to make (little-endian, below 1 MiB), the next two the
// base's length, then the base, then the payload. Whatever they hold, it
// must refuse before its first byte or make exactly the size asked for in
// pieces of at most 64 KiB; and every reference it finds in a base it reads
// must lie inside that base.

#include "delta/elfpatch.h"
#include "delta/elfreferences.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    std::uint32_t wanted = 0;
    std::uint16_t baseLength = 0;
    std::memcpy(&wanted, data, sizeof wanted);
    std::memcpy(&baseLength, data + 4, sizeof baseLength);
    wanted %= 1024 * 1024;
    if (baseLength > size - 6)
        return 0;
    const QByteArrayView base(reinterpret_cast<const char*>(data + 6), baseLength);
    const QByteArrayView payload(reinterpret_cast<const char*>(data + 6 + baseLength),
                                 static_cast<qsizetype>(size - 6 - baseLength));

    if (const std::optional<ElfLayout> layout = parseElf(base)) {
        for (const ElfReference& reference : findReferences(base, *layout)) {
            const quint64 width = reference.form == ElfReference::Form::Absolute ? 8 : 4;
            if (reference.position + width > quint64(base.size()))
                std::abort();
        }
    }
    QString why;
    const std::optional<PreparedElfPatch> prepared = prepareElfPatch(base, payload, why);
    if (!prepared)
        return 0;
    if (prepared->predicted.size() != base.size())
        std::abort();
    qint64 made = 0;
    const SuffixPatchResult result = applySuffixDiff(
        prepared->predicted, prepared->difference, wanted, [&made, wanted](QByteArrayView piece) {
            made += piece.size();
            if (piece.size() > 64 * 1024 || made > wanted)
                std::abort();
            return true;
        });
    if (result.outcome == SuffixPatchResult::Outcome::Made && made != wanted)
        std::abort();
    return 0;
}
