#pragma once

#include <string>

// "http(s)://[user:password@]host[:port][/]" without control characters: a
// value that can only name a proxy. The caller's variables and the PROXY
// setting are held to it before curl sees them.
bool isProxyUrl(const std::string& value);
