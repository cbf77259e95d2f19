// The agent's reader of "UserSelection.xml", fed any bytes: it must answer
// with a selection or with nothing, and never crash.

#include "Selection.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray document(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const std::optional<updateagent::Selection> selection =
            updateagent::parseSelection(document)) {
        for (const updateagent::UpdateFileEntry& entry : selection->files)
            updateagent::isPlainFileName(entry.fileName);
    }
    return 0;
}
