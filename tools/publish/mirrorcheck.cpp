#include "mirrorcheck.h"

#include "base/sha256.h"
#include "delta/deltaoffer.h"
#include "packages/descriptionfields.h"
#include "packages/xmlparser.h"
#include "releaserules.h"
#include "report.h"

#include <QCryptographicHash>
#include <QUrl>

#include <curl/curl.h>

#include <memory>

namespace {

// A mirror that moves less than this in the time below is taken as down.
constexpr long slowestBytesPerSecond = 1024 / 30;
constexpr long slowTimeSeconds = 30;
constexpr long connectTimeoutSeconds = 15;

// One file the description offers, as a mirror must hold it.
struct OfferedFile {
    QString filename;
    qint64 size = 0;
    QString sha256;
    QString md5;
};

QList<OfferedFile> offeredFiles(const XmlParser& parser)
{
    QList<OfferedFile> files;
    for (const PackageInfo* package : {&parser.software, &parser.firmware}) {
        if (package->packageClass.isEmpty() || package->filename.isEmpty())
            continue;
        files.append({package->filename, package->size.toLongLong(),
                      packageSha256(parser.doc, package->packageClass), package->md5});
        for (const DeltaOffer& delta : deltaOffers(parser.doc, package->packageClass))
            files.append({delta.filename, delta.size.toLongLong(), delta.sha256, delta.md5});
    }
    return files;
}

// What a mirror sent for one file: counted and digested, never kept.
struct Received {
    qint64 size = 0;
    qint64 bound = 0; // more than this ends the transfer: the file cannot be the one
    QCryptographicHash sha256{QCryptographicHash::Sha256};
    QCryptographicHash md5{QCryptographicHash::Md5};
};

size_t onData(char* data, size_t size, size_t count, void* target)
{
    auto* received = static_cast<Received*>(target);
    const size_t length = size * count;
    received->size += static_cast<qint64>(length);
    if (received->size > received->bound)
        return 0;
    received->sha256.addData(QByteArrayView(data, static_cast<qsizetype>(length)));
    received->md5.addData(QByteArrayView(data, static_cast<qsizetype>(length)));
    return length;
}

// Why the mirror's copy at url is not the file; empty when it is.
QString copyProblem(const std::string& url, const OfferedFile& file)
{
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   curl_easy_cleanup);
    if (!curl)
        return QStringLiteral("cannot start a transfer");
    Received received;
    received.bound = file.size;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, slowestBytesPerSecond);
    curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, slowTimeSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &received);
    const CURLcode code = curl_easy_perform(curl.get());
    if (received.size > file.size)
        return QStringLiteral("larger than Size %1").arg(file.size);
    if (code != CURLE_OK)
        return QString::fromUtf8(curl_easy_strerror(code));
    if (received.size != file.size)
        return QStringLiteral("%1 bytes, not Size %2").arg(received.size).arg(file.size);
    const bool sameBytes = isSha256Text(file.sha256)
                               ? received.sha256.result().toHex() == file.sha256.toLatin1()
                               : received.md5.result().toHex() == file.md5.toLower().toLatin1();
    return sameBytes ? QString() : QStringLiteral("other bytes than the description's digest");
}

// As the agent joins them: the base without its trailing slashes, the name escaped.
std::string mirrorUrl(QString base, const QString& filename)
{
    while (base.endsWith('/'))
        base.chop(1);
    return (base + '/' + QString::fromLatin1(QUrl::toPercentEncoding(filename))).toStdString();
}

} // namespace

void mirrorProblems(const XmlParser& parser, QStringList& problems)
{
    const QList<OfferedFile> files = offeredFiles(parser);
    for (const QString& base : mirrorBases(parser.doc)) {
        const QString shown = shownMirror(base);
        if (const QString refusal = mirrorRefusal(base); !refusal.isEmpty()) {
            problems
                << QStringLiteral("mirror %1: %2: the updater will not use it").arg(shown, refusal);
            continue;
        }
        int held = 0;
        for (const OfferedFile& file : files) {
            const QString problem = copyProblem(mirrorUrl(base, file.filename), file);
            if (problem.isEmpty())
                ++held;
            else
                problems << QStringLiteral("mirror %1: %2: %3").arg(shown, file.filename, problem);
        }
        say(QStringLiteral("mirror %1: holds %2 of %3 files")
                .arg(shown)
                .arg(held)
                .arg(files.size()));
    }
}
