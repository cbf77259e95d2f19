#include "software/recovery.h"

#include "software/installtransaction.h"
#include "software/journalcheck.h"
#include "software/packagefiles.h"
#include "software/shell.h"

#include <QFileInfo>

namespace {

const char* outcomeText(InstallTransaction::Recovery outcome)
{
    switch (outcome) {
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

} // namespace

void recoverInterruptedInstall(const QString& basePath, const QString& cmName)
{
    const QString marker = basePath + QLatin1String("/updatebak.ini");
    PackageFiles files(basePath);
    if (!QFileInfo::exists(marker) && !files.journal().exists())
        return;
    // Written by someone else, it is not this updater's record: everything
    // stays as it is for an administrator to look at.
    QByteArray refusal = stateFileRefusal(marker);
    if (refusal.isEmpty() && files.journal().exists())
        refusal = files.journal().refusal();
    if (!refusal.isEmpty()) {
        qWarning("interrupted install left alone: %s", refusal.constData());
        return;
    }
    InstallTransaction install(basePath, files);
    const InstallTransaction::Recovery outcome = install.recover(cmName);
    if (outcome != InstallTransaction::Recovery::BackupKept)
        executeShell("rm -f -- " + shellQuote(marker));
    qWarning("%s", outcomeText(outcome));
}
