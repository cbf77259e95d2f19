#pragma once

// A set-user-id connection manager starts the updater with the user's real ids
// and root's effective one. In that mode /bin/sh drops to the real user id and
// the toolkit refuses to start, so right after the environment is rebuilt the
// updater becomes root in full: real, effective and saved user and group ids,
// and no supplementary groups. Nothing changes for a process that is not root.
// Ends the process with status 1 when root's ids cannot be taken.
void settleCredentials();
