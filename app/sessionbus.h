#pragma once

#include <optional>
#include <string>

// The caller's session bus, which the toolkit asks for the desktop's
// accessibility bus: without it a screen reader finds no window. Kept only as
// "unix:path=" (and the server's guid) naming a socket of the caller's own,
// looked up with the caller's file-system ids and resolved, so that no link
// the caller can change stands between. An abstract socket or a TCP address
// proves no owner and is dropped; reason then says why.
std::optional<std::string> callersSessionBus(const std::string& address, const char*& reason);
