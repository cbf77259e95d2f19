#pragma once

#include "software/installtransaction.h"

#include <QString>

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
// updater would otherwise be stopped and started again for ever.
RecoveryOutcome recoverInterruptedInstall(const QString& basePath, const QString& cmName,
                                          ConnectionManager& manager, bool retryFailed);

// One line that says what the recovery did.
const char* recoveryText(const RecoveryOutcome& outcome);
