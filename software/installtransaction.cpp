#include "software/installtransaction.h"

#include "software/installedfile.h"
#include "software/packagefiles.h"
#include "software/shell.h"

#include <QFile>
#include <QSet>

#include <sys/stat.h>
#include <utility>

namespace {

const char* const privateDataFiles[] = {"/contact.xml",        "/sms.xml",
                                        "/historyRecord.xml",  "/networkrc.xml",
                                        "/defaultRecord.conf", "/totalRecord.conf"};

// Names the updater itself uses at the top of the installation.
const char* const workNames[] = {
    "bak",           "download",        ".private_data_bak", ".install_journal",
    "updatebak.ini", "Description.xml", "UserSelection.xml", "FirmwareUpdatePackage_win.zip"};

bool present(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

InstallTransaction::InstallTransaction(QString basePath, PackageFiles& files)
    : basePath(std::move(basePath)), files(files), journal(this->basePath)
{
}

QByteArray InstallTransaction::refusal(const QString& packageFilename) const
{
    QSet<QByteArray> reserved{QFile::encodeName(packageFilename)};
    for (const char* name : workNames)
        reserved.insert(name);
    return files.refusal(reserved);
}

bool InstallTransaction::savePrivateData()
{
    const QString saved = path(privateDataBackup);
    QString line = PackageFiles::freshDirectory(saved);
    for (const char* name : privateDataFiles) {
        // A file the user does not have is simply not saved.
        if (present(path("/Data") + name))
            line += " && " + PackageFiles::linkOrCopyFile(path("/Data") + name, saved + name);
    }
    return executeShellChecked(line);
}

// The phase reaches the disk with the sync the copy starts with.
bool InstallTransaction::backUp()
{
    return files.bak() && journal.setPhase(InstallJournal::Phase::BackedUp);
}

bool InstallTransaction::replace()
{
    // Only a copy that is on disk may be finished by a later start.
    return files.copy() && journal.setPhase(InstallJournal::Phase::Copied);
}

bool InstallTransaction::rollBack()
{
    return files.scrollBack();
}

bool InstallTransaction::restorePrivateData()
{
    bool restored = true;
    for (const char* name : privateDataFiles) {
        if (present(path(privateDataBackup) + name))
            restored = files.backupFile(path("/Data"), name, path(privateDataBackup)) && restored;
    }
    return restored;
}

void InstallTransaction::close(const QString& packagePath, bool keepBackup,
                               const std::function<void(int)>& progress)
{
    // Without its phase the journal asks a later start only to clean up, so
    // the phase goes, durably, before the backup it refers to.
    const bool phaseDropped = !keepBackup && journal.setPhase(InstallJournal::Phase::None);
    if (progress)
        progress(80);
    // The phase on disk first, then the work directories.
    QString line = phaseDropped ? files.syncLine() + " && rm -rf --" : QString("rm -rf --");
    for (const char* dir : {"/download", "/bak", privateDataBackup, "/.install_journal"}) {
        if (phaseDropped || dir == QLatin1String("/download"))
            line += ' ' + shellQuote(path(dir));
    }
    if (!packagePath.isEmpty())
        line += ' ' + shellQuote(packagePath);
    executeShell(line);
    if (progress)
        progress(90);
}

InstallTransaction::Recovery InstallTransaction::recover(const QString& cmName)
{
    const InstallJournal::Phase phase = journal.phase();
    files.loadJournal();
    bool consistent = true;
    if (phase == InstallJournal::Phase::BackedUp)
        consistent = files.scrollBack();
    // The copy may have replaced files of "/Data" too.
    if (phase != InstallJournal::Phase::None)
        consistent = restorePrivateData() && consistent;
    // What the interrupted run still had to do, while the journal can still
    // ask for it; its hook is not run a second time.
    if (phase == InstallJournal::Phase::Copied && consistent) {
        executeShell("rm -f -- " + shellQuote(path("/finish.sh")));
        setConnectionManagerUserId(basePath, cmName);
    }
    close(QString(), !consistent);
    if (!consistent)
        return Recovery::BackupKept;
    switch (phase) {
    case InstallJournal::Phase::BackedUp:
        return Recovery::RolledBack;
    case InstallJournal::Phase::Copied:
        return Recovery::Completed;
    case InstallJournal::Phase::None:
        break;
    }
    return Recovery::CleanedUp;
}
