#include "software/softwareoutcome.h"

#include <QtGlobal>

namespace {

const char* const softwareRestored = QT_TRANSLATE_NOOP(
    "CMUpdater", "The software update failed and the previous version was restored.");
// A roll-back that could not put everything back keeps its backup for the next start.
const char* const softwareNotYetRestored = QT_TRANSLATE_NOOP(
    "CMUpdater", "The software update failed and some files of the previous version could not be "
                 "put back yet. They are kept and will be put back when the computer starts "
                 "again. Restart the computer; if this message comes again, make sure that the "
                 "installation directory can be written.");
const char* const privateDataNotYetRestored = QT_TRANSLATE_NOOP(
    "CMUpdater", "The software was updated, but your contacts and messages could not be put back "
                 "yet. They are kept and will be put back the next time the updater starts.");
const char* const newVersionDidNotStart =
    QT_TRANSLATE_NOOP("CMUpdater", "The new version of the connection manager did not start. The "
                                   "previous version was restored.");

} // namespace

std::optional<Result> SoftwareOutcome::recorded() const
{
    switch (kind) {
    case Kind::NotRun:
        return std::nullopt;
    case Kind::Installed:
    case Kind::InstalledWatched:
        return Result::Installed;
    case Kind::RolledBack:
        return Result::RolledBack;
    case Kind::Refused:
        return Result::Refused;
    case Kind::RestoreIncomplete:
    case Kind::Failed:
        break;
    }
    return Result::Failed;
}

const char* SoftwareOutcome::boxText() const
{
    switch (kind) {
    case Kind::NotRun:
        return nullptr;
    case Kind::Installed:
    case Kind::InstalledWatched:
        return privateDataPending() ? privateDataNotYetRestored : nullptr;
    case Kind::RestoreIncomplete:
        return softwareNotYetRestored;
    case Kind::RolledBack:
        return reason == Reason::DidNotStart ? newVersionDidNotStart : softwareRestored;
    case Kind::Refused:
    case Kind::Failed:
        break;
    }
    return softwareRestored;
}

bool SoftwareOutcome::restartsManager(bool markerRemoved) const
{
    return managerIntact && (markerRemoved || keepsMarker());
}

SoftwareOutcome copiedOutcome(bool installed, bool restored, bool dataBack, bool watched,
                              bool managerIntact)
{
    using Kind = SoftwareOutcome::Kind;
    // A failed copy whose private data did not come back is not whole either.
    if (!restored || (!installed && !dataBack))
        return {Kind::RestoreIncomplete, Reason::RestoreIncomplete, managerIntact};
    if (!installed)
        return {Kind::RolledBack, Reason::CopyFailed, managerIntact};
    return {watched ? Kind::InstalledWatched : Kind::Installed,
            dataBack ? Reason::None : Reason::PrivateDataPending, managerIntact};
}
