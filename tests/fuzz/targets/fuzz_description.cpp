// Any bytes as a package description, read as the updater reads it and handed
// on as the agent reads the selection: nothing may crash or hang, and a file
// name that the parser lets through must reach the agent unchanged.

#include "packages/selectionfile.h"
#include "packages/xmlparser.h"
#include "Selection.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The agent fetches the file named in the selection while the updater looks
// for the one named in the description: the two must be the same.
void requireSameName(const updateagent::UpdateFileEntry& entry, const PackageInfo& package)
{
    if (entry.fileName != package.filename)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Refusals would flood the fuzzer's output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    XmlParser parser;
    parser.setContent(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    parser.get();
    const std::optional<updateagent::Selection> selection = updateagent::parseSelection(
        composeSelection(parser, SELECTED_BOTH, parser.software, parser.firmware));
    if (!selection || selection->files.size() != 2)
        std::abort();
    requireSameName(selection->files[0], parser.software);
    requireSameName(selection->files[1], parser.firmware);
    return 0;
}
