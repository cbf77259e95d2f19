#include "trust/updatetrust.h"

#include "base/sha256.h"
#include "packages/descriptionfields.h"
#include "packages/xmlparser.h"
#include "trust/installedkeys.h"

#include <QFile>
#include <QList>

namespace {

QList<const PackageInfo*> chosenPackages(const XmlParser& parser, SelectedModule module)
{
    // As the selection file has it: anything but one package means both.
    if (module == SELECTED_SOFTWARE)
        return {&parser.software};
    if (module == SELECTED_FIRMWARE)
        return {&parser.firmware};
    return {&parser.software, &parser.firmware};
}

QString digestRefusal(const QString& basePath, const XmlParser& parser, const PackageInfo& package)
{
    const QString expected = packageSha256(parser.doc, package.packageClass);
    if (expected.isEmpty())
        return QStringLiteral("%1: no SHA256").arg(package.filename);
    if (!isSha256Text(expected))
        return QStringLiteral("%1: malformed SHA256").arg(package.filename);
    const QByteArray actual = sha256IntoOwnCopy(basePath + '/' + package.filename);
    if (actual.isEmpty())
        return QStringLiteral("%1: cannot be read").arg(package.filename);
    if (actual != expected.toLatin1())
        return QStringLiteral("%1: SHA256 mismatch").arg(package.filename);
    return {};
}

} // namespace

bool acceptPackages(const QString& basePath, const XmlParser& parser, SelectedModule module)
{
    if (!holdsUpdateKeys(basePath))
        return true;
    const QList<const PackageInfo*> packages = chosenPackages(parser, module);
    QString refusal;
    for (const PackageInfo* package : packages) {
        // A record without a usable name offers nothing to install.
        if (!package->filename.isEmpty() && refusal.isEmpty())
            refusal = digestRefusal(basePath, parser, *package);
    }
    if (refusal.isEmpty())
        return true;
    qWarning("package refused: %s", qPrintable(refusal));
    // Nothing of an update that failed its check is kept for a later run.
    for (const PackageInfo* package : packages) {
        if (!package->filename.isEmpty())
            QFile::remove(basePath + '/' + package->filename);
    }
    return false;
}
