#include "ProxyRules.h"

#include "Diagnostics.h"

#include <QString>
#include <QUrl>

#include <algorithm>
#include <cstdlib>

namespace updateagent {

namespace {

// curl's own default, so that an address without a port means what it would to curl.
constexpr int DefaultProxyPort = 1080;

bool hasControlCharacters(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

bool isHttpScheme(const QString& scheme)
{
    return scheme == u"http" || scheme == u"https";
}

QString lowerHost(const std::string& url)
{
    return QUrl(QString::fromStdString(url)).host().toLower();
}

// One entry of a no_proxy list: "*", the host itself, or a domain the host lies in.
bool listsHost(QString entry, const QString& host)
{
    entry = entry.trimmed().toLower();
    if (entry.startsWith(u'.'))
        entry.remove(0, 1);
    if (entry == u"*")
        return true;
    return !entry.isEmpty() && (host == entry || host.endsWith(u'.' + entry));
}

std::optional<std::string> firstOf(const Environment& environment, const char* lower,
                                   const char* upper)
{
    std::optional<std::string> value = environment(lower);
    return value && !value->empty() ? value : environment(upper);
}

bool bypassed(const std::string& url, const Environment& environment)
{
    const std::optional<std::string> list = firstOf(environment, "no_proxy", "NO_PROXY");
    if (!list)
        return false;
    const QString host = lowerHost(url);
    const QStringList entries = QString::fromStdString(*list).split(u',');
    return std::any_of(entries.begin(), entries.end(),
                       [&host](const QString& entry) { return listsHost(entry, host); });
}

// The variable that names the proxy for url's scheme, parsed; a direct link when
// there is none or it cannot be used.
Proxy proxyFromEnvironment(const std::string& url, const Environment& environment)
{
    const QString scheme = QUrl(QString::fromStdString(url)).scheme().toLower();
    if (!isHttpScheme(scheme) || bypassed(url, environment))
        return {};
    const std::optional<std::string> value =
        scheme == u"https" ? firstOf(environment, "https_proxy", "HTTPS_PROXY")
                           : firstOf(environment, "http_proxy", "HTTP_PROXY");
    if (!value || value->empty())
        return {};
    std::optional<Proxy> proxy = parseProxyUrl(*value);
    if (!proxy)
        warn(QStringLiteral("the caller's proxy variable is no http(s) URL: a direct link"));
    return proxy.value_or(Proxy{});
}

} // namespace

std::string Proxy::shown() const
{
    const std::string address = host + ':' + std::to_string(port);
    return userName.empty() && password.empty() ? address : "***@" + address;
}

std::optional<Proxy> parseProxyUrl(const std::string& text)
{
    if (hasControlCharacters(text))
        return std::nullopt;
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    const QString path = url.path();
    if (!url.isValid() || !isHttpScheme(url.scheme().toLower()) || url.host().isEmpty() ||
        !(path.isEmpty() || path == u"/") || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    Proxy proxy;
    proxy.host = url.host(QUrl::FullyEncoded).toStdString();
    proxy.port = url.port(DefaultProxyPort);
    const std::string hostPart =
        url.host().contains(u':') ? '[' + proxy.host + ']' : proxy.host; // an IPv6 address
    proxy.url =
        url.scheme().toLower().toStdString() + "://" + hostPart + ':' + std::to_string(proxy.port);
    proxy.userName = url.userName(QUrl::FullyDecoded).toStdString();
    proxy.password = url.password(QUrl::FullyDecoded).toStdString();
    return proxy;
}

ProxySetting proxySetting(const std::string& text)
{
    const QString value = QString::fromStdString(text).trimmed();
    if (value.isEmpty())
        return {};
    if (value.compare(u"none", Qt::CaseInsensitive) == 0)
        return {ProxySetting::Kind::Direct, {}};
    if (std::optional<Proxy> proxy = parseProxyUrl(value.toStdString()))
        return {ProxySetting::Kind::Through, std::move(*proxy)};
    warn(QStringLiteral("[AGENT] PROXY is neither http://[user:password@]host:port nor none; "
                        "the caller's proxy variables are used"));
    return {};
}

std::optional<std::string> processEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

Proxy proxyFor(const ProxySetting& setting, const std::string& url, const Environment& environment)
{
    switch (setting.kind) {
    case ProxySetting::Kind::Direct:
        return {};
    case ProxySetting::Kind::Through:
        return setting.proxy;
    case ProxySetting::Kind::Unset:
        break;
    }
    return proxyFromEnvironment(url, environment);
}

std::string bypassedHosts(const ProxySetting& setting, const Environment& environment)
{
    if (setting.kind != ProxySetting::Kind::Unset)
        return {};
    return firstOf(environment, "no_proxy", "NO_PROXY").value_or(std::string{});
}

} // namespace updateagent
