#include "software/installtransaction.h"

#include "base/installid.h"
#include "base/shell.h"
#include "history/reportqueue.h"
#include "history/updatehistory.h"
#include "packages/knownbad.h"
#include "software/installedfile.h"
#include "software/packagefiles.h"
#include "trust/updatetrust.h"

#include <QFile>
#include <QSet>

#include <sys/stat.h>
#include <sys/wait.h>
#include <utility>

namespace {

// Names the updater itself uses at the top of the installation: its work
// files, the signed lists the agent fetches beside the description, its
// settings (a link the package installs to /etc), the toolkit's qt.conf, which
// would send every later root start to other plugins, its translations, and
// the copy of a release handed over in a folder.
const char* const workNames[] = {
    "bak",           "download",        ".private_data_bak",   ".install_journal",
    "updatebak.ini", "Description.xml", "Description.xml.sig", "Description.xml.failed",
    "Keys.xml",      "Keys.xml.sig",    "UserSelection.xml",   "FirmwareUpdatePackage_win.zip",
    "UpdateCfg.ini", "qt.conf",         "translations",        ".folder_copy"};
// The package tree kept as the next delta's base, the copy that replaces it,
// a tree rebuilt from a delta and one unpacked before the stop, for software
// and for firmware.
const char* const deltaNames[] = {
    ".installed_package",  ".installed_package.new",  ".delta_rebuild",   ".unpacked_package",
    ".installed_firmware", ".installed_firmware.new", ".firmware_rebuild"};

bool present(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

InstallTransaction::InstallTransaction(QString basePath, PackageFiles& files,
                                       std::chrono::seconds hookTime)
    : basePath(std::move(basePath)), files(files), journal(this->basePath), hookTime(hookTime)
{
}

QSet<QByteArray> InstallTransaction::reservedNames(const QString& packageFilename)
{
    QSet<QByteArray> reserved{QFile::encodeName(packageFilename)};
    for (const char* name : workNames)
        reserved.insert(name);
    for (const char* name : deltaNames)
        reserved.insert(name);
    reserved.insert(historyFileName);
    reserved.insert(lastCheckFileName);
    reserved.insert(knownBadFileName);
    reserved.insert(installIdFileName);
    reserved.insert(reportQueueFileName);
    for (const char* name : trustFileNames)
        reserved.insert(name);
    return reserved;
}

QByteArray InstallTransaction::refusal(const QString& packageFilename) const
{
    return files.refusal(reservedNames(packageFilename));
}

bool InstallTransaction::savePrivateData()
{
    // With the journal there first, a copy cut short is never taken for one to put back.
    if (!journal.create())
        return false;
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
    return files.copy() && journal.setPhase(watched ? InstallJournal::Phase::Watching
                                                    : InstallJournal::Phase::Copied);
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
    privateDataKept = !restored;
    return restored;
}

void InstallTransaction::runHook()
{
    // A link the package brought under this name is not run, nor made executable.
    const QString hook = path("/finish.sh");
    if (!isRegularFileNoFollow(hook))
        return;
    executeShell("chmod a+x " + shellQuote(hook));
    // A power cut while it runs must not run it again at the next start; the
    // record reaches the disk in the hook's own line, so no cut falls between.
    // A watched version is put back after a cut whatever its hook did.
    const bool watching = journal.phase() == InstallJournal::Phase::Watching;
    const bool recorded =
        journal.exists() && (watching || journal.setPhase(InstallJournal::Phase::HookStarted));
    // timeout stops the hook's whole process group: TERM, and KILL for
    // whatever is still there 10 s later. The hook's relative names are the
    // installation's, wherever the updater was started.
    const int status = shellRunner().run(
        (recorded ? files.syncLine() + "; " : QString()) + "cd -- " + shellQuote(basePath) +
        " && timeout -k 10 " + QString::number(hookTime.count()) + ' ' + shellQuote(hook));
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 124 || WEXITSTATUS(status) == 137))
        qWarning("post-install hook stopped after %lld seconds", qlonglong(hookTime.count()));
    executeShell("rm -f " + shellQuote(hook));
}

void InstallTransaction::dropPrivateDataCopy()
{
    executeShell(files.syncLine() + " && rm -rf -- " + shellQuote(path(privateDataBackup)) +
                 " && " + files.syncLine());
}

// Each step is on disk before the next: the saved copy before the phase that
// makes a later start restore from it, that phase before the first file goes back.
bool InstallTransaction::withdraw()
{
    return savePrivateData() && executeShellChecked(files.syncLine()) &&
           journal.setPhase(InstallJournal::Phase::BackedUp) &&
           executeShellChecked(files.syncLine());
}

void InstallTransaction::keepWatched(bool privateDataPending)
{
    privateDataKept = privateDataPending;
    if (journal.phase() == InstallJournal::Phase::Watching)
        journal.setPhase(InstallJournal::Phase::HookStarted);
    close(QString(), false);
}

void InstallTransaction::close(const QString& packagePath, bool keepBackup,
                               const std::function<void(int)>& progress)
{
    // Without its phase the journal asks a later start only to clean up, so
    // the phase goes, durably, before the backup it refers to. Private data
    // not yet put back keep the journal, and the phase that asks for them;
    // once the new version is complete that phase needs no backup.
    const bool complete = installed();
    const bool phaseDropped =
        !keepBackup && !privateDataKept && journal.setPhase(InstallJournal::Phase::None);
    const bool backupDropped = phaseDropped || (!keepBackup && complete);
    if (progress)
        progress(80);
    // The phase on disk first, then the work directories.
    QString line = phaseDropped ? files.syncLine() + " && rm -rf --" : QString("rm -rf --");
    for (const char* dir : {"/download", "/bak", privateDataBackup, "/.install_journal"}) {
        const bool dropped = dir == QLatin1String("/bak") ? backupDropped : phaseDropped;
        if (dropped || dir == QLatin1String("/download"))
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
    InstallJournal::Phase phase = journal.phase();
    files.loadJournal();
    bool consistent = true;
    if (phase == InstallJournal::Phase::Watching) {
        // A copy cut off before its private data were back gets them first.
        consistent = restorePrivateData() && withdraw();
        phase = InstallJournal::Phase::BackedUp;
    }
    if (phase == InstallJournal::Phase::BackedUp)
        consistent = consistent && files.scrollBack();
    // The copy may have replaced files of "/Data" too. A run that left no
    // journal at all was cut short by an updater that kept none: its copies
    // of the private data may be the only good ones.
    if (phase != InstallJournal::Phase::None || !journal.exists())
        restorePrivateData();
    // What the interrupted run still had to do, while the journal can still
    // ask for it; a hook that was started is not started again.
    if (installed()) {
        if (phase == InstallJournal::Phase::Copied)
            runHook();
        else
            executeShell("rm -f -- " + shellQuote(path("/finish.sh")));
    }
    // A run cut off after its journal's phase had gone (or the journal with
    // it, leaving the marker alone) may not have reached the set-user-id bit.
    if (installed() || phase == InstallJournal::Phase::None)
        setConnectionManagerUserId(basePath, cmName);
    close(QString(), !consistent);
    if (!consistent || privateDataKept) {
        journal.markRecoveryFailed();
        return Recovery::BackupKept;
    }
    switch (phase) {
    case InstallJournal::Phase::BackedUp:
        return Recovery::RolledBack;
    case InstallJournal::Phase::Copied:
    case InstallJournal::Phase::HookStarted:
        return Recovery::Completed;
    case InstallJournal::Phase::None:
    case InstallJournal::Phase::Watching:
        break;
    }
    return Recovery::CleanedUp;
}

bool InstallTransaction::installed() const
{
    const InstallJournal::Phase phase = journal.phase();
    return phase == InstallJournal::Phase::Copied || phase == InstallJournal::Phase::HookStarted;
}

bool InstallTransaction::programIntact(const QString& name) const
{
    return installed() || journal.phase() == InstallJournal::Phase::Watching ||
           files.unchanged('/' + QFile::encodeName(name));
}
