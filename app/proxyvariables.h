#pragma once

#include <optional>
#include <string>

// The caller's proxy variables, the lower- and upper-case forms libcurl reads:
// http_proxy, https_proxy and no_proxy.
bool isProxyVariable(const std::string& name);

// The value when it can only name a proxy, http(s)://[user:password@]host[:port][/],
// or for no_proxy a list of hosts; nullopt otherwise, with reason saying why.
// Control characters are refused in both.
std::optional<std::string> checkedProxyVariable(const std::string& name, const std::string& value,
                                                const char*& reason);
