#include "software/recovery.h"

#include "history/updatehistory.h"
#include "software/installtransaction.h"
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

const char* reasonCode(InstallTransaction::Recovery outcome)
{
    switch (outcome) {
    case InstallTransaction::Recovery::RolledBack:
        return "interrupted-rolled-back";
    case InstallTransaction::Recovery::Completed:
        return "interrupted-completed";
    case InstallTransaction::Recovery::BackupKept:
        return "restore-incomplete";
    case InstallTransaction::Recovery::CleanedUp:
        break;
    }
    return "interrupted-cleaned-up";
}

} // namespace

void recoverInterruptedInstall(const QString& basePath, const QString& cmName)
{
    const QString marker = basePath + QLatin1String("/updatebak.ini");
    PackageFiles files(basePath);
    if (!QFileInfo::exists(marker) && !files.journal().exists())
        return;
    HistoryRecord record;
    record.started = QDateTime::currentDateTimeUtc();
    InstallTransaction install(basePath, files);
    const InstallTransaction::Recovery outcome = install.recover(cmName);
    if (outcome != InstallTransaction::Recovery::BackupKept)
        executeShell("rm -f -- " + shellQuote(marker));
    qWarning("%s", outcomeText(outcome));
    record.ended = QDateTime::currentDateTimeUtc();
    record.result = outcome == InstallTransaction::Recovery::BackupKept ? "failed" : "recovered";
    record.reason = reasonCode(outcome);
    appendHistory(basePath, record);
}
