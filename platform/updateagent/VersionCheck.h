#pragma once

#include "Settings.h"

#include <UpdateAgent.h>

#include <functional>
#include <string>

namespace updateagent {

// SERVER_URL + "/Description.xml"; over http(s) the client identity follows as query
// parameters, so that a server can answer per device.
std::string descriptionUrl(const std::string& serverUrl, const _CLIENT_INFO& client);
// The description's signature: the same address with ".sig" added, the same query.
std::string signatureUrl(const std::string& serverUrl, const _CLIENT_INFO& client);

// Replaces "Description.xml" and its signature "Description.xml.sig" in the
// installation directory by the server's, after the source's key list
// "Keys.xml" and its "Keys.xml.sig" when it publishes one, and then announces
// the answer. A failed fetch leaves no file behind and is announced all the
// same, which the updater reads as a failed check (for the signature, as an
// unsigned description; for the key list, as no new list). A description that
// did not come leaves "Description.xml.failed" with one word for why:
// "no-description", "server-unreachable", "proxy-failed" or "stalled".
void runVersionCheck(const AgentSettings& settings, const _CLIENT_INFO& client,
                     CMUpdaterInterface& callbacks, const std::function<bool()>& cancelled);

} // namespace updateagent
