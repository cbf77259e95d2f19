#pragma once

#include "Selection.h"
#include "Transfer.h"

#include <optional>

namespace updateagent {

// Where an entry is fetched from: its URL when that names a scheme, otherwise the
// FTP server of the selection with the URL (or, without one, the file name) as the
// path there, logged in with the server's user name and password. nullopt when no
// usable address can be made.
std::optional<TransferRequest> packageSource(const UpdateFileEntry& entry, const FtpServer& server);

} // namespace updateagent
