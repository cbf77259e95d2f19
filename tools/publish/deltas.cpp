#include "deltas.h"

#include "base/sha256.h"
#include "delta/deltamaker.h"
#include "delta/deltaoffer.h"
#include "delta/packagetree.h"
#include "outputfile.h"
#include "packagelint.h"
#include "report.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <optional>
#include <sys/resource.h>
#include <utility>
#include <zip.h>

namespace {

// Far above any release of the connection manager, far below a full disk.
constexpr quint64 maxUnpackedBytes = quint64(2) << 30;
constexpr int unzipTimeLimitMs = 10 * 60 * 1000;

// The largest size a member of the archive declares; nullopt when it cannot be
// read or the members together declare more than the ceiling.
std::optional<quint64> largestDeclaredSize(const QString& zip)
{
    zip_t* archive = zip_open(QFile::encodeName(zip).constData(), ZIP_RDONLY, nullptr);
    if (archive == nullptr)
        return std::nullopt;
    quint64 largest = 0;
    quint64 total = 0;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t index = 0; index < count && total <= maxUnpackedBytes; ++index) {
        zip_stat_t info;
        if (zip_stat_index(archive, zip_uint64_t(index), 0, &info) != 0 ||
            !(info.valid & ZIP_STAT_SIZE))
            total = maxUnpackedBytes + 1;
        else {
            largest = std::max<quint64>(largest, info.size);
            total += info.size;
        }
    }
    zip_discard(archive);
    return total <= maxUnpackedBytes ? std::optional(largest) : std::nullopt;
}

// As the updater unpacks a package, so the trees compared are the ones it has.
// No file unzip writes may grow past the largest size the archive declares,
// and unzip is stopped when it takes too long.
bool unpack(const QString& zip, const QString& directory)
{
    const std::optional<quint64> largest = largestDeclaredSize(zip);
    if (!largest)
        return false;
    QProcess unzip;
    unzip.setChildProcessModifier([limit = rlim_t(*largest)] {
        const rlimit size{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &size);
    });
    unzip.start(QStringLiteral("unzip"),
                {QStringLiteral("-qq"), zip, QStringLiteral("-d"), directory});
    if (!unzip.waitForFinished(unzipTimeLimitMs)) {
        unzip.kill();
        unzip.waitForFinished(-1);
        return false;
    }
    // unzip exits with 1 when it only warned.
    return unzip.exitStatus() == QProcess::NormalExit && unzip.exitCode() <= 1;
}

QString hexDigest(const QByteArray& bytes, QCryptographicHash::Algorithm algorithm)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, algorithm).toHex());
}

QByteArray readWhole(const QString& path, bool& read)
{
    QFile file(path);
    read = file.open(QIODevice::ReadOnly);
    return read ? file.readAll() : QByteArray();
}

void fileProblems(const QString& path, const DeltaOffer& offer, QStringList& problems)
{
    bool read = false;
    const QByteArray bytes = readWhole(path, read);
    const QString where = QStringLiteral("delta %1").arg(offer.filename);
    if (QString::number(bytes.size()) != offer.size)
        problems << QStringLiteral("%1: Size %2 but the file has %3 bytes")
                        .arg(where, offer.size)
                        .arg(bytes.size());
    if (hexDigest(bytes, QCryptographicHash::Md5) != offer.md5.toLower())
        problems << QStringLiteral("%1: MD5 does not match the file").arg(where);
    if (hexDigest(bytes, QCryptographicHash::Sha256) != offer.sha256)
        problems << QStringLiteral("%1: SHA256 does not match the file").arg(where);
    if (QString::fromLatin1(manifestDigest(bytes)) != offer.manifest)
        problems << QStringLiteral("%1: Manifest does not match the file's manifest").arg(where);
}

} // namespace

QString deltaFileName(const QString& packagePath, const QString& basePath)
{
    return QFileInfo(packagePath).completeBaseName() + QStringLiteral("-from-") +
           QFileInfo(basePath).completeBaseName() + QStringLiteral(".delta");
}

std::optional<PublishedDelta> publishDelta(const QString& oldZip, const QString& newZip,
                                           const QString& output, QString& error)
{
    QTemporaryDir work;
    const QString oldDir = work.filePath(QStringLiteral("old"));
    const QString newDir = work.filePath(QStringLiteral("new"));
    if (!work.isValid()) {
        error = QStringLiteral("cannot make a work directory: %1").arg(work.errorString());
        return std::nullopt;
    }
    for (const auto& [zip, directory] : {std::pair{oldZip, oldDir}, std::pair{newZip, newDir}}) {
        if (!unpack(zip, directory)) {
            error = QStringLiteral("cannot unpack %1: unzip failed").arg(zip);
            return std::nullopt;
        }
    }
    const std::optional<QByteArray> delta = makeDelta(oldDir, newDir, error);
    const std::optional<PackageTree> base = listPackageTree(oldDir);
    if (!delta || !base || !writeOutputFile(output, *delta, 0644, false, error))
        return std::nullopt;
    return PublishedDelta{QString::fromLatin1(treeDigest(*base)),
                          QFileInfo(output).fileName(),
                          delta->size(),
                          hexDigest(*delta, QCryptographicHash::Md5),
                          hexDigest(*delta, QCryptographicHash::Sha256),
                          QString::fromLatin1(manifestDigest(*delta))};
}

void deltaProblems(const QString& directory, const QDomDocument& doc, const QString& packageClass,
                   bool filesRequired, QStringList& problems)
{
    for (const DeltaOffer& offer : deltaOffers(doc, packageClass)) {
        const QString where = QStringLiteral("delta %1").arg(offer.filename);
        if (const QString problem = offerProblem(offer); !problem.isEmpty()) {
            problems << QStringLiteral("%1: %2: the updater will not use it").arg(where, problem);
            continue;
        }
        const QString path = directory + '/' + offer.filename;
        if (QFileInfo(path).isFile())
            fileProblems(path, offer, problems);
        else if (filesRequired)
            problems << QStringLiteral("%1: no such file beside the description").arg(where);
        else
            say(QStringLiteral("  %1 is not beside the description: not checked").arg(where));
    }
}

void reportDeltas(const QDomDocument& doc, const QString& packageClass)
{
    for (const DeltaOffer& offer : deltaOffers(doc, packageClass))
        say(QStringLiteral("  delta from base %1: Filename \"%2\", Size %3, MD5 %4, SHA256 %5, "
                           "Manifest %6, URL %7")
                .arg(offer.base, offer.filename, offer.size, offer.md5, offer.sha256,
                     offer.manifest, offer.url));
}

int deltaCommand(const QStringList& given)
{
    QStringList arguments = given;
    const bool force = arguments.removeAll(QStringLiteral("--force")) > 0;
    if (arguments.size() != 3 ||
        std::any_of(arguments.begin(), arguments.end(),
                    [](const QString& argument) { return argument.startsWith('-'); })) {
        fail(QStringLiteral("delta takes [--force] OLD.zip NEW.zip OUTPUT"));
        return usageStatus;
    }
    QString error;
    for (int k = 0; k < 2; ++k) {
        if (!acceptPackageFile(arguments[k], true))
            return failedStatus;
    }
    const std::optional<PublishedDelta> delta =
        mayOverwrite(arguments[2], isDeltaOutput, force, error)
            ? publishDelta(arguments[0], arguments[1], arguments[2], error)
            : std::nullopt;
    if (!delta) {
        fail(error);
        return failedStatus;
    }
    reportWritten(arguments[2], delta->size);
    const qint64 full = QFileInfo(arguments[1]).size();
    say(QStringLiteral("delta: %1 bytes, full package: %2 bytes, ratio: %3 %")
            .arg(delta->size)
            .arg(full)
            .arg(full > 0 ? 100.0 * double(delta->size) / double(full) : 0.0, 0, 'f', 2));
    return 0;
}
