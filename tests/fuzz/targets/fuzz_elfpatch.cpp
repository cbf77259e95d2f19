// The ELF difference's applier, fed a base file and a payload (see
// patchinput.h). Whatever they hold, it must refuse before its first byte or
// make exactly the size asked for in pieces of at most 64 KiB; and every
// reference it finds in a base it reads must lie inside that base.

#include "delta/elfpatch.h"
#include "delta/elfreferences.h"
#include "patchinput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<PatchInput> input = splitPatchInput(data, size);
    if (!input)
        return 0;
    if (const std::optional<ElfLayout> layout = parseElf(input->base)) {
        for (const ElfReference& reference : findReferences(input->base, *layout)) {
            const quint64 width = reference.form == ElfReference::Form::Absolute ? 8 : 4;
            if (reference.position + width > quint64(input->base.size()))
                std::abort();
        }
    }
    QString why;
    const std::optional<PreparedElfPatch> prepared =
        prepareElfPatch(input->base, input->payload, why);
    if (!prepared)
        return 0;
    if (prepared->predicted.size() != input->base.size())
        std::abort();
    applyWithinBounds(prepared->predicted, prepared->difference, input->wanted);
    return 0;
}
