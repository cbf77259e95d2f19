#pragma once

#include <functional>
#include <optional>
#include <string>

namespace updateagent {

// A proxy as curl gets it: the address without credentials, which go apart so
// that no error text, line or record ever carries them.
struct Proxy {
    std::string url; // scheme://host:port; empty for a direct link
    std::string userName;
    std::string password;
    std::string host;
    long port = 0;

    bool direct() const { return url.empty(); }
    // The way lines name the proxy: "host:port", "***@host:port" with credentials.
    std::string shown() const;
};

// "http://[user:password@]host[:port][/]" or https; nullopt for anything else
// (another scheme, a path, a query, control characters, no host).
std::optional<Proxy> parseProxyUrl(const std::string& text);

// The PROXY setting: unset leaves the choice to the caller's variables,
// "none" is a direct link.
struct ProxySetting {
    enum class Kind { Unset, Direct, Through };
    Kind kind = Kind::Unset;
    Proxy proxy;
};
// A malformed value warns and counts as unset.
ProxySetting proxySetting(const std::string& text);

// Reads one variable of the environment; tests hand in their own.
using Environment = std::function<std::optional<std::string>(const char* name)>;
std::optional<std::string> processEnvironment(const char* name);

// The road to url: the setting when there is one, else http_proxy or
// https_proxy by the url's scheme (the upper-case forms after them), unless
// no_proxy (or NO_PROXY) lists its host. Other schemes go direct.
Proxy proxyFor(const ProxySetting& setting, const std::string& url,
               const Environment& environment = processEnvironment);

// The hosts the caller's variables send past any proxy, as curl takes them;
// empty under a PROXY setting, which wins.
std::string bypassedHosts(const ProxySetting& setting,
                          const Environment& environment = processEnvironment);

} // namespace updateagent
