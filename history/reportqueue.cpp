#include "history/reportqueue.h"

#include "base/nofollowfile.h"
#include "base/syncdirectory.h"

#include <QSaveFile>
#include <QUrl>

#include <openssl/rand.h>

#include <unistd.h>

namespace {

// Longer than any path the updater makes: a line beyond it is no report.
constexpr qint64 lineLimit = 2048;

QByteArray field(const QString& text)
{
    return text.isEmpty() ? QByteArrayLiteral("-") : QUrl::toPercentEncoding(text, "+");
}

QString queuePath(const QString& basePath)
{
    return basePath + '/' + QLatin1String(reportQueueFileName);
}

// Only what reportPath makes: unreserved characters, "%", "/", "?", "=", "+".
bool isReportPath(const QByteArray& path)
{
    if (!path.startsWith("reports/1/") || !path.contains("?n="))
        return false;
    for (const char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || QByteArrayView("-._~%/?=+").contains(c);
        if (!plain)
            return false;
    }
    return true;
}

std::optional<QueuedReport> parseLine(const QByteArray& line)
{
    const qsizetype space = line.indexOf(' ');
    bool number = false;
    const qint64 seconds = line.left(space).toLongLong(&number);
    const QByteArray path = line.mid(space + 1);
    if (space <= 0 || !number || !isReportPath(path))
        return std::nullopt;
    return QueuedReport{QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC), path};
}

} // namespace

QByteArray reportPath(const ReportedRun& run)
{
    quint64 nonce = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&nonce), sizeof nonce) != 1)
        return {};
    return "reports/1/" + field(run.device) + '/' + field(run.from) + '/' + field(run.to) + '/' +
           field(QLatin1String(word(run.result))) + '/' + field(QLatin1String(word(run.reason))) +
           "?n=" + QByteArray::number(nonce, 16).rightJustified(16, '0');
}

QList<QueuedReport> readReportQueue(const QString& basePath, const QDateTime& now)
{
    QFile file;
    QList<QueuedReport> reports;
    if (!openRegularFileNoFollow(file, queuePath(basePath)))
        return reports;
    while (!file.atEnd()) {
        const std::optional<QueuedReport> report = parseLine(file.readLine(lineLimit).trimmed());
        if (report && report->queued.secsTo(now) <= reportLifetime)
            reports << *report;
    }
    return reports.mid(qMax<qsizetype>(0, reports.size() - reportQueueLimit));
}

bool writeReportQueue(const QString& basePath, const QList<QueuedReport>& reports)
{
    if (reports.isEmpty())
        return (!QFile::exists(queuePath(basePath)) || QFile::remove(queuePath(basePath))) &&
               syncDirectory(basePath);
    QSaveFile file(queuePath(basePath));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QueuedReport& report : reports)
        file.write(QByteArray::number(report.queued.toSecsSinceEpoch()) + ' ' + report.path + '\n');
    return ::fsync(file.handle()) == 0 && file.commit() && syncDirectory(basePath);
}
