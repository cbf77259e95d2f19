#pragma once

#include "base/ascaller.h"

#include <QString>

#include <vector>

// A set-user-id connection manager starts the updater with the user's real ids
// and root's effective one. In that mode /bin/sh drops to the real user id and
// the toolkit refuses to start, so right after the environment is rebuilt the
// updater becomes root in full: real, effective and saved user and group ids,
// and no supplementary groups. Nothing changes for a process that is not root.
// Ends the process with status 1 when root's ids cannot be taken.
//
// Such a start also resets what else of the caller's process the updater and
// every child would inherit: the resource limits become root's defaults,
// ignored signals their default action and the signal mask empty, the working
// directory "/", and every descriptor above standard error is closed but
// keptDescriptors (those the kept environment names).
void settleCredentials(const std::vector<int>& keptDescriptors);

// The real ids the process was started with, as settleCredentials found them:
// the caller's, whose files are opened with them.
CallerIds startingCaller();

// The working directory the process was started in, before settleCredentials
// left it for "/": where a relative path the caller gives starts.
QString startingDirectory();
