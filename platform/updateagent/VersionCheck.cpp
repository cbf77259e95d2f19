#include "VersionCheck.h"

#include "Diagnostics.h"
#include "FileSink.h"
#include "Transfer.h"

#include <QFile>
#include <QSaveFile>
#include <QUrl>

#include <cstring>
#include <utility>

namespace updateagent {

namespace {

constexpr const char* SourceProtocols = "file,http,https,ftp";
// A description is a few kilobytes; a server sending more is not sending one.
constexpr qint64 MaxDescriptionBytes = 64 * 1024;

QByteArray fieldText(const char (&field)[_CLIENT_INFO::FieldSize])
{
    // The record crossed a library boundary: do not trust its terminator.
    return QByteArray(field, static_cast<int>(strnlen(field, _CLIENT_INFO::FieldSize)));
}

QByteArray identityQuery(const _CLIENT_INFO& client)
{
    const std::pair<const char*, QByteArray> parameters[] = {
        {"os", fieldText(client.os)},
        {"device", fieldText(client.device)},
        {"softwareVersion", fieldText(client.softwareVersion)},
        {"firmwareVersion", fieldText(client.firmwareVersion)},
        {"imei", fieldText(client.imei)},
        {"clientGroup", fieldText(client.clientGroup)},
        {"language", fieldText(client.language)},
    };
    QByteArray query;
    for (const auto& [name, value] : parameters) {
        if (!query.isEmpty())
            query += '&';
        query += name;
        query += '=';
        query += value.toPercentEncoding(); // the bytes as they are, whatever their encoding
    }
    return query;
}

bool isHttp(const std::string& url)
{
    const QString scheme = QUrl(QString::fromStdString(url)).scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

// A key list is a few hundred bytes.
constexpr qint64 MaxKeyListBytes = 64 * 1024;
// A signature is 64 bytes; a little more still reaches the updater, which then
// names it a bad one rather than a missing one.
constexpr qint64 MaxSignatureBytes = 4096;

// Why a fetch failed: the text for the line (empty when the fetch was
// cancelled) and the part of the road that failed.
struct FetchFailure {
    QString text;
    TransferResult::Failure kind = TransferResult::Failure::Other;
};

// Fetches url into target through a temporary file; a failure leaves no file
// and says why in failure.
bool fetchInto(const AgentSettings& settings, const std::string& url, const QString& target,
               qint64 maxBytes, const std::function<bool()>& cancelled, FetchFailure& failure)
{
    FileSink sink(target, Expectation{std::nullopt, {}, maxBytes}, nullptr);
    if (!sink.open()) {
        failure.text = QStringLiteral("cannot write %1").arg(target);
        return false;
    }
    const TransferRequest request{url, SourceProtocols, {}, {}};
    const TransferResult result = transfer(request, settings.limits, sink, cancelled);
    if (result.status == TransferResult::Status::Completed && sink.finish())
        return true;
    if (result.status != TransferResult::Status::Cancelled)
        failure = {sink.failureReason(result), result.failure};
    return false;
}

// The word the updater records for a check whose description did not come.
const char* failureWord(TransferResult::Failure kind)
{
    switch (kind) {
    case TransferResult::Failure::NotFound:
        return "no-description";
    case TransferResult::Failure::ProxyRefused:
        return "proxy-failed";
    case TransferResult::Failure::Stalled:
        return "stalled";
    case TransferResult::Failure::Unreachable:
    case TransferResult::Failure::Other:
        break;
    }
    return "server-unreachable";
}

// Beside the missing description, so that the updater can tell a server that
// has none from one it never reached.
void leaveFailureWord(const QString& path, TransferResult::Failure kind)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(failureWord(kind)) < 0 || !file.commit())
        warn(QStringLiteral("cannot write %1").arg(path));
}

bool fetchDescription(const AgentSettings& settings, const _CLIENT_INFO& client,
                      const QString& target, const std::function<bool()>& cancelled)
{
    if (settings.serverUrl.empty()) {
        warn(QStringLiteral("no usable [AGENT] SERVER_URL in UpdateCfg.ini"));
        return false;
    }
    FetchFailure failure;
    if (fetchInto(settings, descriptionUrl(settings.serverUrl, client), target, MaxDescriptionBytes,
                  cancelled, failure))
        return true;
    if (!failure.text.isEmpty()) {
        warn(QStringLiteral("version check failed: %1").arg(failure.text));
        leaveFailureWord(target + QStringLiteral(".failed"), failure.kind);
    }
    return false;
}

// An unsigned source, or one without a key list, is no fault of the agent's:
// the updater decides what a missing file means, so its absence is not
// reported here.
void fetchQuietly(const AgentSettings& settings, const std::string& url, const QString& target,
                  qint64 maxBytes, const std::function<bool()>& cancelled)
{
    FetchFailure failure;
    fetchInto(settings, url, target, maxBytes, cancelled, failure);
}

std::string sourceFileUrl(const std::string& serverUrl, const _CLIENT_INFO& client,
                          const char* name)
{
    std::string base = serverUrl;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    std::string url = transferUrl(QString::fromStdString(base + '/' + name));
    if (isHttp(url))
        url.append(1, '?').append(
            identityQuery(client).toStdString()); // no temporary: GCC 12 -O3 warns falsely
    return url;
}

// The source's list of trusted keys and its signature, taken before the
// description, which may be signed by a key only the new list holds.
void fetchKeyList(const AgentSettings& settings, const _CLIENT_INFO& client, const QString& target,
                  const std::function<bool()>& cancelled)
{
    fetchQuietly(settings, sourceFileUrl(settings.serverUrl, client, "Keys.xml"), target,
                 MaxKeyListBytes, cancelled);
    if (QFile::exists(target))
        fetchQuietly(settings, sourceFileUrl(settings.serverUrl, client, "Keys.xml.sig"),
                     target + QStringLiteral(".sig"), MaxSignatureBytes, cancelled);
}

} // namespace

std::string descriptionUrl(const std::string& serverUrl, const _CLIENT_INFO& client)
{
    return sourceFileUrl(serverUrl, client, "Description.xml");
}

std::string signatureUrl(const std::string& serverUrl, const _CLIENT_INFO& client)
{
    return sourceFileUrl(serverUrl, client, "Description.xml.sig");
}

void runVersionCheck(const AgentSettings& settings, const _CLIENT_INFO& client,
                     CMUpdaterInterface& callbacks, const std::function<bool()>& cancelled)
{
    const QString target = settings.installDir + QStringLiteral("/Description.xml");
    const QString signature = target + QStringLiteral(".sig");
    const QString keyList = settings.installDir + QStringLiteral("/Keys.xml");
    // The updater reads whatever description, key list and signatures lie
    // there: old ones must not pass for today's answer.
    for (const QString& old : {target, signature, target + QStringLiteral(".failed"), keyList,
                               keyList + QStringLiteral(".sig")})
        QFile::remove(old);
    if (!settings.serverUrl.empty())
        fetchKeyList(settings, client, keyList, cancelled);
    if (fetchDescription(settings, client, target, cancelled))
        fetchQuietly(settings, signatureUrl(settings.serverUrl, client), signature,
                     MaxSignatureBytes, cancelled);
    callbacks.HaveNewVsersion();
}

} // namespace updateagent
