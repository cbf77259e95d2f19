// The suffix difference's applier, fed a base file and a payload: the first
// four bytes are the size to make (little-endian, below 1 MiB), the next two
// the base's length, then the base, then the payload. Whatever they hold, it
// must make exactly the size asked for in pieces of at most 64 KiB, or say
// the payload is corrupt having made no more than that.

#include "delta/suffixpatch.h"

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
    return 0;
}
