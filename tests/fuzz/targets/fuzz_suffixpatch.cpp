// The suffix difference's applier, fed a base file and a payload: whatever
// they hold, it stays within the size asked for.

#include "patchinput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const std::optional<PatchInput> input = splitPatchInput(data, size))
        applyWithinBounds(input->base, input->payload, input->wanted);
    return 0;
}
