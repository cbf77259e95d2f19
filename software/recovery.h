#pragma once

#include "software/installtransaction.h"

#include <QString>

#include <chrono>
#include <optional>

class ConnectionManager;

// What a recovery did; empty when no run had left anything to recover.
using RecoveryOutcome = std::optional<InstallTransaction::Recovery>;

// At start: when an earlier run left the marker or the journal of an install
// it did not end, stops a running connection manager, puts the installation
// and the private data back from the journal, or finishes the install where
// its copy had ended, then removes the work directories and the marker, and
// starts the connection manager again when it was running and its executable
// is whole. Leaves the marker when something could not be put back. Without
// a marker and a journal nothing is touched, nor, unless retryFailed, after a
// recovery that had already failed: a connection manager that starts the
// updater would otherwise be stopped and started again for ever. A marker or
// journal that cannot be trusted is left as it is, Refused, for an
// administrator to look at. The package's hook, when it is still to run, is
// stopped after hookTime.
RecoveryOutcome recoverInterruptedInstall(const QString& basePath, const QString& cmName,
                                          ConnectionManager& manager, bool retryFailed,
                                          std::chrono::seconds hookTime = defaultHookTime);

// One line that says what the recovery did.
const char* recoveryText(const RecoveryOutcome& outcome);

// The exit status of a recovery run on its own: 0 when the installation is
// whole, 1 when a backup had to be kept, 3 when the journal was not trusted.
int recoveryExitStatus(const RecoveryOutcome& outcome);
