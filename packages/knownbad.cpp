#include "packages/knownbad.h"

#include "base/nofollowfile.h"
#include "base/sha256.h"
#include "base/syncdirectory.h"
#include "packages/descriptionfields.h"
#include "packages/xmlparser.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room for the limit's worth of lines; a longer file is not the updater's.
constexpr qint64 maxFileBytes = knownBadLimit * 80;

QString knownBadPath(const QString& basePath)
{
    return basePath + '/' + QLatin1String(knownBadFileName);
}

bool isDigestText(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral("^(sha256:[0-9a-f]{64}|md5:[0-9a-f]{32})$"));
    return form.match(text).hasMatch();
}

QStringList readDigests(const QString& basePath)
{
    QFile file;
    if (!openRegularFileNoFollow(file, knownBadPath(basePath)))
        return {};
    QStringList digests;
    for (const QByteArray& line : file.read(maxFileBytes).split('\n')) {
        if (isDigestText(QString::fromLatin1(line)))
            digests << QString::fromLatin1(line);
    }
    return digests;
}

} // namespace

QString packageDigest(const QDomDocument& doc, const PackageInfo& package)
{
    const QString sha256 = packageSha256(doc, package.packageClass);
    if (isSha256Text(sha256))
        return QStringLiteral("sha256:") + sha256;
    const QString md5 = QStringLiteral("md5:") + package.md5.toLower();
    return isDigestText(md5) ? md5 : QString();
}

bool isKnownBad(const QString& basePath, const QString& digest)
{
    return !digest.isEmpty() && readDigests(basePath).contains(digest);
}

bool rememberKnownBad(const QString& basePath, const QString& digest)
{
    const QString path = knownBadPath(basePath);
    struct stat info {};
    // A link or anything else under the name is not the updater's to replace.
    if (!isDigestText(digest) ||
        (::lstat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode)))
        return false;
    QStringList digests = readDigests(basePath);
    digests.removeAll(digest);
    digests << digest;
    digests = digests.mid(qMax<qsizetype>(0, digests.size() - knownBadLimit));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write((digests.join('\n') + '\n').toLatin1());
    return ::fsync(file.handle()) == 0 && file.commit() && syncDirectory(basePath);
}

namespace {

bool withdrawPackage(const QString& basePath, XmlParser& parser, const char* kind,
                     PackageInfo& package)
{
    const QString digest = packageDigest(parser.doc, package);
    if (package.filename.isEmpty() || !isKnownBad(basePath, digest))
        return false;
    qWarning("package not offered: %s %s (%s) failed on this machine before", kind,
             qPrintable(package.version), qPrintable(digest));
    package = PackageInfo();
    --parser.packageCount;
    return true;
}

} // namespace

SelectedModule withdrawKnownBad(const QString& basePath, XmlParser& parser)
{
    const bool software = withdrawPackage(basePath, parser, "software", parser.software);
    const bool firmware = withdrawPackage(basePath, parser, "firmware", parser.firmware);
    if ((software || firmware) && parser.software.filename.isEmpty() &&
        parser.firmware.filename.isEmpty())
        parser.flag = QStringLiteral("1"); // nothing new for this installation
    return moduleOf(software, firmware);
}
