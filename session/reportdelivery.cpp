#include "session/reportdelivery.h"

#include "base/installation.h"

#include <curl/curl.h>

#include <memory>

namespace {

size_t discard(char*, size_t size, size_t count, void*)
{
    return size * count;
}

} // namespace

bool sendReport(const QByteArray& url, std::chrono::milliseconds timeout, const QByteArray& proxy)
{
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   curl_easy_cleanup);
    if (!curl || timeout.count() <= 0)
        return false;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, discard);
    // The setting wins over no_proxy too. curl takes the credentials out of the
    // URL itself; its error text is never shown.
    if (!proxy.isEmpty()) {
        curl_easy_setopt(curl.get(), CURLOPT_PROXY,
                         proxy.compare("none", Qt::CaseInsensitive) == 0 ? "" : proxy.constData());
        curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "");
    }
    long status = 0;
    if (curl_easy_perform(curl.get()) != CURLE_OK ||
        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
        return false;
    return (status >= 200 && status < 300) || status == 404;
}

ReportDelivery::ReportDelivery(const Installation& installation)
    : basePath(installation.BASE_PATH), serverUrl(installation.SERVER_URL),
      proxy(installation.PROXY), enabled(installation.REPORTS)
{
}

ReportDelivery::~ReportDelivery()
{
    finish();
}

void ReportDelivery::start(const std::optional<ReportedRun>& run)
{
    finish();
    if (enabled)
        sender = std::thread([this, run] { deliver(run); });
}

void ReportDelivery::finish()
{
    if (sender.joinable())
        sender.join();
}

void ReportDelivery::deliver(const std::optional<ReportedRun>& run)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + reportBudget;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<QueuedReport> waiting = readReportQueue(basePath, now);
    if (run) {
        if (const QByteArray path = reportPath(*run); !path.isEmpty())
            waiting << QueuedReport{now, path};
        waiting = waiting.mid(qMax<qsizetype>(0, waiting.size() - reportQueueLimit));
        writeReportQueue(basePath, waiting);
    }
    QByteArray base = serverUrl.toUtf8();
    while (base.endsWith('/'))
        base.chop(1);
    // The first that does not go through ends the round: the link is down.
    qsizetype sent = 0;
    while (
        sent < waiting.size() &&
        sendReport(base + '/' + waiting[sent].path,
                   std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                   proxy))
        ++sent;
    if (sent > 0)
        writeReportQueue(basePath, waiting.mid(sent));
}
