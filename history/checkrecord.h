#pragma once

#include "history/updatehistory.h"

#include <QString>

#include <optional>

// How a version check ended, as the history and "cmupdater --check" tell it.
struct CheckOutcome {
    // UpToDate, Offered, CheckFailed or Refused.
    Result result;
    // Why the check failed or what was refused; None when nothing was. An
    // offer can carry one when a package was taken back.
    Reason reason = Reason::None;
    // The software package taken back, when one was.
    std::optional<ModuleRecord> software{};
    // The key that verified the description, when one did.
    QString keyId{};
};

// At the end of a check: the last check's line always; a history record (the
// result refused for an offer that lost a package) for every check that
// failed or refused something, folded into the last record when it repeats it.
void recordCheck(const QString& basePath, const CheckOutcome& outcome, const QDateTime& started);
