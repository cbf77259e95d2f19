#include "software/recovery.h"

#include "software/connectionmanager.h"
#include "software/packagefiles.h"
#include "software/shell.h"

#include <QFileInfo>

RecoveryOutcome recoverInterruptedInstall(const QString& basePath, const QString& cmName,
                                          ConnectionManager& manager, bool retryFailed)
{
    const QString marker = basePath + QLatin1String("/updatebak.ini");
    PackageFiles files(basePath);
    if ((!QFileInfo::exists(marker) && !files.journal().exists()) ||
        (!retryFailed && files.journal().recoveryFailed()))
        return std::nullopt;
    // Its executable, its libraries and its data are about to change, and a
    // manager that saves at exit would write over what is put back.
    const bool wasRunning = manager.running();
    if (wasRunning)
        manager.stop();
    InstallTransaction install(basePath, files);
    const InstallTransaction::Recovery outcome = install.recover(cmName);
    const bool kept = outcome == InstallTransaction::Recovery::BackupKept;
    if (!kept)
        executeShell("rm -f -- " + shellQuote(marker));
    if (wasRunning && (!kept || install.programIntact(cmName)))
        manager.start();
    return outcome;
}

const char* recoveryText(const RecoveryOutcome& outcome)
{
    if (!outcome)
        return "nothing to recover";
    switch (*outcome) {
    case InstallTransaction::Recovery::RolledBack:
        return "interrupted install rolled back";
    case InstallTransaction::Recovery::Completed:
        return "interrupted install completed";
    case InstallTransaction::Recovery::BackupKept:
        return "interrupted install not fully restored, backup kept";
    case InstallTransaction::Recovery::CleanedUp:
        break;
    }
    return "interrupted install cleaned up, nothing was replaced";
}
