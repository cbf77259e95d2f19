#include "VersionCheck.h"

#include "Diagnostics.h"
#include "FileSink.h"
#include "Transfer.h"

#include <QFile>
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

void fetchDescription(const AgentSettings& settings, const _CLIENT_INFO& client,
                      const QString& target, const std::function<bool()>& cancelled)
{
    if (settings.serverUrl.empty()) {
        warn(QStringLiteral("no usable [AGENT] SERVER_URL in UpdateCfg.ini"));
        return;
    }
    FileSink sink(target, Expectation{std::nullopt, {}, MaxDescriptionBytes}, nullptr);
    if (!sink.open()) {
        warn(QStringLiteral("cannot write %1").arg(target));
        return;
    }
    const TransferRequest request{
        descriptionUrl(settings.serverUrl, client), SourceProtocols, {}, {}};
    const TransferResult result = transfer(request, settings.limits, sink, cancelled);
    if (result.status == TransferResult::Status::Completed && sink.finish())
        return;
    if (result.status != TransferResult::Status::Cancelled)
        warn(QStringLiteral("version check failed: %1").arg(sink.failureReason(result)));
}

} // namespace

std::string descriptionUrl(const std::string& serverUrl, const _CLIENT_INFO& client)
{
    std::string base = serverUrl;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    std::string url = transferUrl(QString::fromStdString(base + "/Description.xml"));
    if (isHttp(url))
        url.append(1, '?').append(
            identityQuery(client).toStdString()); // no temporary: GCC 12 -O3 warns falsely
    return url;
}

void runVersionCheck(const AgentSettings& settings, const _CLIENT_INFO& client,
                     CMUpdaterInterface& callbacks, const std::function<bool()>& cancelled)
{
    const QString target = settings.installDir + QStringLiteral("/Description.xml");
    // The updater reads whatever description lies there: an old one must not pass
    // for today's answer.
    QFile::remove(target);
    fetchDescription(settings, client, target, cancelled);
    callbacks.HaveNewVsersion();
}

} // namespace updateagent
