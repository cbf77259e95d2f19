#include "base/proxyurl.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace {

bool isHostCharacter(unsigned char c)
{
    return std::isalnum(c) || c == '.' || c == '-';
}

bool allOf(const std::string& text, bool (*allowed)(unsigned char))
{
    return std::all_of(text.begin(), text.end(), [allowed](char c) { return allowed(c); });
}

bool isPort(const std::string& text)
{
    return !text.empty() && text.size() <= 5 &&
           allOf(text, [](unsigned char c) { return std::isdigit(c) != 0; }) &&
           std::stoi(text) >= 1 && std::stoi(text) <= 65535;
}

// host[:port] or [ipv6][:port]
bool isHostAndPort(const std::string& text)
{
    std::string host = text;
    std::string port;
    const size_t close = text.rfind(']');
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (!isPort(port))
            return false;
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return allOf(host.substr(1, host.size() - 2),
                     [](unsigned char c) { return std::isxdigit(c) != 0 || c == ':' || c == '.'; });
    return !host.empty() && allOf(host, isHostCharacter);
}

// User information may hold anything printable but the separators around it.
bool isUserInformation(const std::string& text)
{
    return allOf(text,
                 [](unsigned char c) { return std::isgraph(c) != 0 && c != '/' && c != '@'; });
}

} // namespace

bool isProxyUrl(const std::string& value)
{
    const size_t separator = value.find("://");
    if (separator == std::string::npos)
        return false;
    const std::string scheme = value.substr(0, separator);
    if (strcasecmp(scheme.c_str(), "http") != 0 && strcasecmp(scheme.c_str(), "https") != 0)
        return false;
    std::string authority = value.substr(separator + 3);
    if (!authority.empty() && authority.back() == '/')
        authority.pop_back();
    const size_t at = authority.rfind('@');
    if (at != std::string::npos && !isUserInformation(authority.substr(0, at)))
        return false;
    return isHostAndPort(at == std::string::npos ? authority : authority.substr(at + 1));
}
