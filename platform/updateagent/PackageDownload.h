#pragma once

#include "Settings.h"

#include <UpdateAgent.h>

#include <functional>

namespace updateagent {

// Why a download is to end before its time.
enum class StopReason { None, Stopped, Refused, Ended };

// Fetches every file that "UserSelection.xml" names into the installation directory
// and reports progress, states and the end. A file appears under its name only
// when it is complete and has passed its checks; on any failure the download ends
// with DownloadFinished(false) and leaves no partial file.
void runDownload(const AgentSettings& settings, CMUpdaterInterface& callbacks,
                 const std::function<StopReason()>& stopReason);

} // namespace updateagent
