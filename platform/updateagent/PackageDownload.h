#pragma once

#include "Settings.h"

#include <UpdateAgent.h>

#include <functional>

namespace updateagent {

// Why a download is to end before its time.
enum class StopReason { None, Stopped, Refused, Ended };

// Fetches every file that "UserSelection.xml" names into the installation directory
// and reports progress, states and the end. A file appears under its name only
// when it is complete, has passed its checks and is on disk. A transfer that fails
// in a way that may pass is continued after a pause, within the retry limits; a
// stop, a refusal or a failure keeps the partial file for the next run, unless the
// file turned out not to be the expected one.
void runDownload(const AgentSettings& settings, CMUpdaterInterface& callbacks,
                 const std::function<StopReason()>& stopReason);

} // namespace updateagent
