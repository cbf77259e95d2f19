#pragma once

#include "history/updatehistory.h"

#include <QString>

#include <optional>

// A new version this installation's turn has not come for yet: the release
// is offered in stages.
struct HeldBack {
    QString release; // the new version's name
    bool paused = false;
    // The share whose step reaches this installation, in percent, and when
    // that step begins; none when no step does.
    std::optional<int> percent{};
    std::optional<QDateTime> from{};
};

// How a version check ended, as the history and "cmupdater --check" tell it.
struct CheckOutcome {
    // UpToDate, Offered, HeldBack, CheckFailed or Refused.
    Result result;
    // Why the check failed or what was refused; None when nothing was. An
    // offer can carry one when a package was taken back.
    Reason reason = Reason::None;
    // The software package taken back, when one was.
    std::optional<ModuleRecord> software{};
    // The key that verified the description, when one did.
    QString keyId{};
    // With HeldBack: where this installation stands in the release.
    std::optional<HeldBack> heldBack{};
    // Offered although held back: asked for early.
    bool early = false;
};

// At the end of a check: the last check's line always; a history record (the
// result refused for an offer that lost a package) for every check that
// failed, refused something or was held back, folded into the last record when it repeats it.
void recordCheck(const QString& basePath, const CheckOutcome& outcome, const QDateTime& started);
