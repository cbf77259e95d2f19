// Any bytes as "Description.xml", read as the updater reads it and handed on
// as the agent reads the selection: nothing may crash or hang, and a file name
// that the parser lets through must reach the agent unchanged.

#include "app/globals.h"
#include "packages/selectionfile.h"
#include "packages/xmlparser.h"
#include "Selection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void writeDescription(const std::uint8_t* data, std::size_t size)
{
    QFile file(BASE_PATH + QStringLiteral("/Description.xml"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        std::abort();
}

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
    // On tmpfs where there is one: the selection is written durably, and a
    // disk's flush in every run would slow the fuzzer to a crawl.
    const QString root = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                             ? QStringLiteral("/dev/shm")
                             : QDir::tempPath();
    static QTemporaryDir directory(root + QStringLiteral("/cmupdater-fuzz-XXXXXX"));
    if (!directory.isValid())
        std::abort();
    BASE_PATH = directory.path();
    // Refusals and the selection's tag would flood the fuzzer's output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    writeDescription(data, size);
    XmlParser parser;
    parser.setFile(QString());
    parser.get();
    writeSelectionFile(parser, SELECTED_BOTH);
    const std::optional<updateagent::Selection> selection =
        updateagent::readSelection(BASE_PATH + QStringLiteral("/UserSelection.xml"));
    if (!selection || selection->files.size() != 2)
        std::abort();
    requireSameName(selection->files[0], parser.software);
    requireSameName(selection->files[1], parser.firmware);
    return 0;
}
