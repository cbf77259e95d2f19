#include "software/recovery.h"

#include "base/shell.h"
#include "history/runrecord.h"
#include "software/connectionmanager.h"
#include "software/installedtrees.h"
#include "software/journalcheck.h"
#include "software/packagefiles.h"

#include <QFileInfo>

namespace {

// The line on the warning channel, and the reason in the update history.
struct OutcomeText {
    const char* line;
    Reason reason;
};

OutcomeText outcomeText(InstallTransaction::Recovery outcome)
{
    switch (outcome) {
    case InstallTransaction::Recovery::RolledBack:
        return {"interrupted install rolled back", Reason::InterruptedRolledBack};
    case InstallTransaction::Recovery::Completed:
        return {"interrupted install completed", Reason::InterruptedCompleted};
    case InstallTransaction::Recovery::BackupKept:
        return {"interrupted install not fully restored, backup kept", Reason::RestoreIncomplete};
    case InstallTransaction::Recovery::Refused:
        return {"interrupted install left alone, its journal is not trusted",
                Reason::UntrustedJournal};
    case InstallTransaction::Recovery::CleanedUp:
        break;
    }
    return {"interrupted install cleaned up, nothing was replaced", Reason::InterruptedCleanedUp};
}

} // namespace

RecoveryOutcome recoverInterruptedInstall(const QString& basePath, const QString& cmName,
                                          ConnectionManager& manager, bool retryFailed,
                                          std::chrono::seconds hookTime)
{
    const QString marker = basePath + QLatin1String("/updatebak.ini");
    PackageFiles files(basePath);
    if ((!QFileInfo::exists(marker) && !files.journal().exists()) ||
        (!retryFailed && files.journal().recoveryFailed()))
        return std::nullopt;
    // Written by someone else, it is not this updater's record: everything
    // stays as it is for an administrator to look at.
    QByteArray refusal = stateFileRefusal(marker);
    if (refusal.isEmpty() && files.journal().exists())
        refusal = files.journal().refusal();
    RunRecord record(basePath);
    if (!refusal.isEmpty()) {
        qWarning("interrupted install left alone: %s", refusal.constData());
        record.append(Result::Refused, outcomeText(InstallTransaction::Recovery::Refused).reason);
        return InstallTransaction::Recovery::Refused;
    }
    // Its executable, its libraries and its data are about to change, and a
    // manager that saves at exit would write over what is put back.
    const bool wasRunning = manager.running();
    if (wasRunning)
        manager.stop();
    InstallTransaction install(basePath, files, hookTime);
    const InstallTransaction::Recovery outcome = install.recover(cmName);
    const bool kept = outcome == InstallTransaction::Recovery::BackupKept;
    // Trees the interrupted run unpacked or rebuilt are a base for nothing.
    removeWorkTrees(basePath);
    if (!kept)
        executeShell("rm -f -- " + shellQuote(marker));
    if (wasRunning && (!kept || install.programIntact(cmName)))
        manager.start();
    record.append(kept ? Result::Failed : Result::Recovered, outcomeText(outcome).reason);
    return outcome;
}

const char* recoveryText(const RecoveryOutcome& outcome)
{
    return outcome ? outcomeText(*outcome).line : "nothing to recover";
}

int recoveryExitStatus(const RecoveryOutcome& outcome)
{
    if (outcome == InstallTransaction::Recovery::Refused)
        return 3;
    return outcome == InstallTransaction::Recovery::BackupKept ? 1 : 0;
}
