#include "app/proxyvariables.h"

#include "base/proxyurl.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

const char* const proxyVariables[] = {"http_proxy", "https_proxy", "no_proxy",
                                      "HTTP_PROXY", "HTTPS_PROXY", "NO_PROXY"};

// Host names, domains, addresses with an optional prefix length, "*", by commas.
bool isHostList(const std::string& value)
{
    return !value.empty() && std::all_of(value.begin(), value.end(), [](unsigned char c) {
        return std::isalnum(c) || (c != 0 && std::strchr(".-,*:/[] ", c) != nullptr);
    });
}

} // namespace

bool isProxyVariable(const std::string& name)
{
    return std::find(std::begin(proxyVariables), std::end(proxyVariables), name) !=
           std::end(proxyVariables);
}

std::optional<std::string> checkedProxyVariable(const std::string& name, const std::string& value,
                                                const char*& reason)
{
    if (strcasecmp(name.c_str(), "no_proxy") == 0) {
        reason = "not a list of host names";
        return isHostList(value) ? std::optional(value) : std::nullopt;
    }
    reason = "not http(s)://[user:password@]host[:port]";
    return isProxyUrl(value) ? std::optional(value) : std::nullopt;
}
