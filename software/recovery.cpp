#include "software/recovery.h"

#include "history/updatehistory.h"
#include "software/installtransaction.h"
#include "software/packagefiles.h"
#include "software/shell.h"

#include <QFileInfo>

namespace {

// The line on the warning channel, and the reason in the update history.
struct OutcomeText {
    const char* line;
    const char* reason;
};

OutcomeText outcomeText(InstallTransaction::Recovery outcome)
{
    switch (outcome) {
    case InstallTransaction::Recovery::RolledBack:
        return {"interrupted install rolled back", "interrupted-rolled-back"};
    case InstallTransaction::Recovery::Completed:
        return {"interrupted install completed", "interrupted-completed"};
    case InstallTransaction::Recovery::BackupKept:
        return {"interrupted install not fully restored, backup kept", "restore-incomplete"};
    case InstallTransaction::Recovery::CleanedUp:
        break;
    }
    return {"interrupted install cleaned up, nothing was replaced", "interrupted-cleaned-up"};
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
    const OutcomeText text = outcomeText(outcome);
    qWarning("%s", text.line);
    record.ended = QDateTime::currentDateTimeUtc();
    record.result = outcome == InstallTransaction::Recovery::BackupKept ? "failed" : "recovered";
    record.reason = text.reason;
    appendHistory(basePath, record);
}
