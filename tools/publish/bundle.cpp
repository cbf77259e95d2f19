#include "bundle.h"

#include "base/syncdirectory.h"
#include "check.h"
#include "delta/deltaoffer.h"
#include "packages/plainfilename.h"
#include "packages/xmlparser.h"
#include "report.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

namespace {

struct BundleArguments {
    QString description;
    QString output;
    QString key;
};

std::optional<BundleArguments> parseArguments(const QStringList& arguments)
{
    BundleArguments parsed;
    for (int i = 0; i < arguments.size(); ++i) {
        const bool valued = i + 1 < arguments.size() && !arguments[i + 1].startsWith('-');
        if (arguments[i] == u"--output" && valued && parsed.output.isEmpty()) {
            parsed.output = arguments[++i];
        } else if (arguments[i] == u"--key" && valued && parsed.key.isEmpty()) {
            parsed.key = arguments[++i];
        } else if (!arguments[i].startsWith('-') && parsed.description.isEmpty()) {
            parsed.description = arguments[i];
        } else {
            fail(QStringLiteral("unexpected argument %1").arg(arguments[i]));
            return std::nullopt;
        }
    }
    if (parsed.description.isEmpty() || parsed.output.isEmpty()) {
        fail(QStringLiteral("bundle takes a description and --output DIR"));
        return std::nullopt;
    }
    return parsed;
}

// A file of the release, where it lies and its name in the folder.
struct BundledFile {
    QString source;
    QString name;
};

// What the release consists of: the description under the name installations
// read, the key list when one lies beside it, every package and delta named.
// Nullopt when a name would leave the folder.
std::optional<QList<BundledFile>> releaseFiles(const QString& description, const QByteArray& bytes)
{
    const QString directory = QFileInfo(description).absolutePath() + '/';
    QList<BundledFile> files{
        {description, QStringLiteral("Description.xml")},
        {description + QStringLiteral(".sig"), QStringLiteral("Description.xml.sig")}};
    for (const char* name : {"Keys.xml", "Keys.xml.sig"}) {
        if (QFileInfo::exists(directory + name))
            files.append({directory + name, QLatin1String(name)});
    }
    XmlParser parser;
    parser.setContent(bytes);
    parser.get();
    for (const QString& name : namedPackageFiles(parser)) {
        if (!isPlainFileName(name)) {
            fail(QStringLiteral("unsafe file name \"%1\" in %2").arg(name, description));
            return std::nullopt;
        }
        files.append({directory + name, name});
    }
    return files;
}

// Copied whole and synced; a file that is not there is left to the checks to name.
bool copyInto(const QString& directory, const BundledFile& file)
{
    QFile source(file.source);
    if (!source.exists())
        return true;
    QSaveFile copy(directory + '/' + file.name);
    if (!source.open(QIODevice::ReadOnly) || !copy.open(QIODevice::WriteOnly)) {
        fail(QStringLiteral("cannot copy %1 into %2").arg(file.source, directory));
        return false;
    }
    while (!source.atEnd()) {
        const QByteArray block = source.read(1 << 20);
        if (block.isEmpty() || copy.write(block) != block.size()) {
            fail(QStringLiteral("cannot copy %1 into %2").arg(file.source, directory));
            return false;
        }
    }
    return copy.commit();
}

// The checked folder becomes output, which must not hold anything yet.
bool publish(QTemporaryDir& staged, const QString& output)
{
    if (!QFile::setPermissions(staged.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                  QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther) ||
        std::rename(QFile::encodeName(staged.path()).constData(),
                    QFile::encodeName(output).constData()) != 0) {
        fail(QStringLiteral("cannot create %1: it exists and is not empty, or cannot be written")
                 .arg(output));
        return false;
    }
    staged.setAutoRemove(false);
    syncDirectory(QFileInfo(output).absolutePath());
    return true;
}

} // namespace

int bundleCommand(const QStringList& arguments)
{
    const std::optional<BundleArguments> parsed = parseArguments(arguments);
    if (!parsed)
        return usageStatus;
    const std::optional<QByteArray> bytes = readDescriptionFile(parsed->description);
    const std::optional<QList<BundledFile>> files =
        bytes ? releaseFiles(parsed->description, *bytes) : std::nullopt;
    if (!files)
        return failedStatus;
    const QString output = QDir::cleanPath(QFileInfo(parsed->output).absoluteFilePath());
    // Said before anything is copied; the rename refuses it again should it change meanwhile.
    if (QFileInfo::exists(output) && !QDir(output).isEmpty()) {
        fail(QStringLiteral("%1 exists and is not empty: nothing written").arg(output));
        return failedStatus;
    }
    QTemporaryDir staged(QFileInfo(output).absolutePath() + QStringLiteral("/.cmupdater-bundle-"));
    if (!staged.isValid()) {
        fail(QStringLiteral("cannot write beside %1").arg(output));
        return failedStatus;
    }
    for (const BundledFile& file : *files) {
        if (!copyInto(staged.path(), file))
            return failedStatus;
    }
    // What goes onto the stick is what is checked: the copies, not the originals.
    if (verifyRelease(staged.filePath(QStringLiteral("Description.xml")), parsed->key) != 0 ||
        !publish(staged, output))
        return failedStatus;
    for (const BundledFile& file : *files) {
        const QFileInfo bundled(output + '/' + file.name);
        reportWritten(bundled.filePath(), bundled.size());
    }
    return 0;
}
