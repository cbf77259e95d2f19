#pragma once

#include <optional>
#include <string>

// The caller's session bus, which the toolkit asks for the desktop's
// accessibility bus: without it a screen reader finds no window. Kept only as
// "unix:path=" (and the server's guid) naming a socket of the caller's own,
// opened with the caller's file-system ids and held open: the address kept
// names the held descriptor, so no link the caller changes later stands
// between. An abstract socket or a TCP address proves no owner and is
// dropped; reason then says why.
std::optional<std::string> callersSessionBus(const std::string& address, const char*& reason);

// The descriptor of the held socket, -1 when none is held.
int sessionBusSocket();
