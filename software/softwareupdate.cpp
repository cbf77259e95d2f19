#include "software/softwareupdate.h"

#include "base/shell.h"
#include "packages/knownbad.h"
#include "packages/plainfilename.h"
#include "software/healthwatch.h"
#include "software/installedfile.h"
#include "software/installedtrees.h"
#include "software/installtransaction.h"
#include "software/packagefiles.h"
#include "software/updateview.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <thread>
#include <utility>

namespace {

const char* const workFiles[] = {"/Description.xml", "/Description.xml.sig", "/UserSelection.xml",
                                 "/FirmwareUpdatePackage_win.zip"};

const char* const firmwareNotUpdated = QT_TRANSLATE_NOOP(
    "CMUpdater",
    "The modem firmware was not updated. Keep the modem plugged in and run the update again.");
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
const char* const softwarePackageBroken = QT_TRANSLATE_NOOP(
    "CMUpdater", "The software update failed: the downloaded package is damaged and was not "
                 "installed. The connection manager was left running.");
const char* const newVersionDidNotStart =
    QT_TRANSLATE_NOOP("CMUpdater", "The new version of the connection manager did not start. The "
                                   "previous version was restored.");

qint64 fileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() ? info.size() : 0;
}

} // namespace

bool unzipPackage(PackageFiles& files, const QString& packagePath)
{
    return files.unzip(packagePath);
}

UpdateDispatcher::UpdateDispatcher(InstallSettings settings, PackageFiles& files, UpdateView& view,
                                   std::function<bool()> updateFirmware)
    : settings(std::move(settings)), files(files), view(view),
      updateFirmware(std::move(updateFirmware)),
      manager(this->settings.basePath, this->settings.cmName, this->settings.wvdial),
      record(this->settings.basePath)
{
}

void UpdateDispatcher::downloadFinished(bool ok, const UpdateChoice& choice)
{
    beginRecord(choice);
    if (!ok) {
        view.hideDialog();
        removeWorkFiles();
        const char* result = choice.refused ? "refused" : choice.cancelled ? "cancelled" : "failed";
        record.software(result, choice.packageBroken ? "package-broken"
                                : choice.refused     ? "package-unverified"
                                : choice.cancelled   ? "user-cancelled"
                                                     : "download-failed");
        record.firmware(result);
        record.append(result);
        if (choice.packageBroken) {
            rememberFailedPackage();
            view.showWarning({softwarePackageBroken});
        }
        view.endEventLoop(1);
        return;
    }
    view.appendLine(
        QT_TRANSLATE_NOOP("CMUpdater", "Stopping %1: the connection drops for a moment..."),
        {settings.cmName});
    stopRunningProcesses();
    view.unmarkStep(UpdateStep::Download);
    view.setProgress(0);
    QList<const char*> failures = runSelectedSteps(choice);
    view.markStep(UpdateStep::End);
    // An install whose backup could not be put back keeps its marker, so the
    // next start finishes the roll-back.
    const bool markerGone =
        !installUnfinished && executeShellChecked("rm -f " + shellQuote(path("/updatebak.ini")));
    // The update page stays while the new version is watched.
    const bool watching = markerGone && watchDue;
    if (!watching)
        view.hideDialog();
    removeWorkFiles();
    if (watching)
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Starting the new version..."));
    if (cmIntact && (markerGone || installUnfinished))
        restartConnectionManager();
    bool proven = true;
    if (watching) {
        const char* warning = watchNewVersion();
        proven = warning == nullptr;
        if (!proven)
            failures << warning;
        endWatchedUpdate(proven);
        view.hideDialog();
    } else if (watchDue) {
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update end"));
    }
    // A version the watch rolled back is no base for the next delta: the tree
    // of the version that runs again stays.
    keepInstalledTree(settings.basePath, treeSetAside && proven);
    record.append(record.worstResult());
    // The parent reads status 0 as "the update ran"; a failure is told to the user.
    if (!failures.isEmpty())
        view.showWarning(failures);
    view.endEventLoop(0);
}

void UpdateDispatcher::cancelled()
{
    record.append("cancelled", "user-cancelled");
}

void UpdateDispatcher::beginRecord(const UpdateChoice& choice)
{
    softwareDigest = choice.softwareDigest;
    softwareVersion = choice.softwareVersion;
    const SelectedModule module = choice.selectedModule;
    std::optional<ModuleRecord> software;
    std::optional<ModuleRecord> firmware;
    if (module == SELECTED_SOFTWARE || module == SELECTED_BOTH)
        software = ModuleRecord{settings.softwareVersion, choice.softwareVersion, "failed",
                                choice.softwareDelta ? "delta" : "full"};
    if (module == SELECTED_FIRMWARE || module == SELECTED_BOTH)
        firmware = ModuleRecord{settings.firmwareVersion, choice.firmwareVersion, "failed",
                                choice.firmwareDelta ? "delta" : "full"};
    // What the agent left for this run: the chosen packages as they lie now.
    qint64 bytes = 0;
    for (const QString& name : {choice.softwareFilename, choice.firmwareFilename}) {
        if (isPlainFileName(name))
            bytes += fileSize(settings.basePath + '/' + name);
    }
    record.choose(std::move(software), std::move(firmware), bytes);
}

void UpdateDispatcher::stopRunningProcesses()
{
    manager.stop();
}

QList<const char*> UpdateDispatcher::runSelectedSteps(const UpdateChoice& choice)
{
    QList<const char*> failures;
    const auto firmware = [&] {
        if (!runFirmwareStep(choice.descriptionDevice))
            failures << firmwareNotUpdated;
    };
    const auto software = [&] {
        if (!runSoftwareStep(choice))
            failures << failedSoftwareText();
    };
    switch (choice.selectedModule) {
    case SELECTED_SOFTWARE:
        software();
        break;
    case SELECTED_FIRMWARE:
        firmware();
        break;
    case SELECTED_BOTH:
        firmware();
        software();
        break;
    case SELECTED_NONE:
        break;
    }
    return failures;
}

bool UpdateDispatcher::runFirmwareStep(const QString& descriptionDevice)
{
    view.markStep(UpdateStep::Firmware);
    // Firmware made for another model is not a failed flash: nothing is retried.
    if (settings.device != descriptionDevice) {
        reportFirmwareSkipped(view);
        record.firmware("failed", "other-device");
        return true;
    }
    if (updateFirmware()) {
        record.firmware("installed");
        return true;
    }
    qWarning("firmware update failed");
    record.firmware("failed", "flash-failed");
    return false;
}

bool UpdateDispatcher::runSoftwareStep(const UpdateChoice& choice)
{
    view.markStep(UpdateStep::Software);
    if (updateSW(choice.softwareFilename, choice.backupPrivateData))
        return true;
    if (privateDataPending)
        qWarning("software updated, private data restore left to the next start");
    else
        qWarning(installUnfinished ? "software update failed, restore left to the next start"
                                   : "software update failed, previous version kept");
    return false;
}

const char* UpdateDispatcher::failedSoftwareText() const
{
    if (privateDataPending)
        return privateDataNotYetRestored;
    return installUnfinished ? softwareNotYetRestored : softwareRestored;
}

// The connection manager was killed for the update; the user expects it back.
void UpdateDispatcher::restartConnectionManager()
{
    manager.start();
}

const char* UpdateDispatcher::watchNewVersion()
{
    const HealthWatch watch(settings.healthTime, [this] { return manager.startedRunning(); });
    InstallTransaction install(settings.basePath, files, settings.hookTime);
    if (watch.passes()) {
        install.keepWatched(privateDataPending);
        return nullptr;
    }
    qWarning("the new connection manager did not keep running, previous version put back");
    rememberFailedPackage();
    manager.killStarted();
    if (install.recover(settings.cmName) == InstallTransaction::Recovery::BackupKept) {
        // The journal stays: the next start finishes the roll-back.
        record.software("failed", "restore-incomplete");
        return softwareNotYetRestored;
    }
    record.software("rolled-back", "did-not-start");
    restartConnectionManager();
    return newVersionDidNotStart;
}

void UpdateDispatcher::endWatchedUpdate(bool running)
{
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update end"));
    if (!running)
        return;
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "%1 %2 is installed and running."),
                    {settings.cmName, softwareVersion});
    std::this_thread::sleep_for(finalPause);
}

void UpdateDispatcher::rememberFailedPackage()
{
    if (!softwareDigest.isEmpty() && !rememberKnownBad(settings.basePath, softwareDigest))
        qWarning("cannot remember the failed package %s", qPrintable(softwareDigest));
}

void UpdateDispatcher::removeWorkFiles()
{
    for (const char* name : workFiles) {
        if (QFileInfo::exists(path(name)))
            executeShell("rm -f " + shellQuote(path(name)));
    }
}

bool UpdateDispatcher::updateSW(const QString& softwareFilename, bool backupPrivateData)
{
    const QString packagePath = settings.basePath + '/' + softwareFilename;
    bool installed = false;
    if (isPlainFileName(softwareFilename) && QFileInfo(packagePath).isFile()) {
        installed = installSoftware(packagePath, backupPrivateData);
    } else {
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Invalid software package."));
        record.software("refused", "invalid-package");
    }
    view.setProgress(100);
    view.unmarkStep(UpdateStep::Software);
    // A watched version's update ends once the watch is over.
    if (!watchDue)
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update end"));
    return installed;
}

bool UpdateDispatcher::installSoftware(const QString& packagePath, bool backupPrivateData)
{
    InstallTransaction install(settings.basePath, files, settings.hookTime);
    if (install.pending()) {
        // An earlier install's backup waits for the next start to put it back.
        installUnfinished = true;
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update fail.restore..."));
        record.software("failed", "restore-pending");
        return false;
    }
    writeUpdatebak();
    view.setProgress(5);
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Unzip package..."));
    if (const char* reason = preparePackage(install, packagePath, backupPrivateData)) {
        // Nothing of the installation has been replaced yet, so there is
        // nothing to put back, and a half-made private data copy is dropped.
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update fail.restore..."));
        view.setProgress(70);
        closeInstall(install, packagePath, false);
        const bool refused = reason == QLatin1String("package-refused");
        if (refused)
            rememberFailedPackage();
        record.software(refused ? "refused" : "failed", reason);
        return false;
    }
    // Only a manager the updater may start can show that it runs.
    const bool watched = settings.healthTime.count() > 0 && isPlainExecutableName(settings.cmName);
    install.setWatched(watched);
    const bool installed = replaceInstallation(install);
    const bool restored = installed || install.rollBack();
    view.setProgress(70);
    // After a roll-back too: a copy that failed half-way may have reached "/Data".
    const bool dataBack = !backupPrivateData || install.restorePrivateData();
    installUnfinished = !restored || (!installed && !dataBack);
    privateDataPending = installed && !dataBack;
    cmIntact = install.programIntact(settings.cmName);
    // A watched version keeps its backup and journal until it has shown that it runs.
    watchDue = installed && watched;
    if (watchDue && dataBack)
        install.dropPrivateDataCopy();
    if (installed) {
        setInstalledTreeAside(settings.basePath);
        treeSetAside = true;
        install.runHook();
    }
    if (installUnfinished)
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Restore incomplete, backup kept."));
    // On disk with the sync that the journal's removal starts with: a cut
    // between the two must not leave the manager without its bit.
    setCmSetUserId();
    closeInstall(install, packagePath, installUnfinished || watchDue);
    recordSoftwareOutcome(installed);
    return installed && dataBack;
}

void UpdateDispatcher::recordSoftwareOutcome(bool installed)
{
    if (installUnfinished)
        record.software("failed", "restore-incomplete");
    else if (!installed)
        record.software("rolled-back", "copy-failed");
    else
        record.software("installed", privateDataPending ? "private-data-pending" : "");
}

const char* UpdateDispatcher::preparePackage(InstallTransaction& install,
                                             const QString& packagePath, bool backupPrivateData)
{
    const bool unpacked = produceTree(files, packagePath);
    view.setProgress(25);
    if (!unpacked)
        return "unpack-failed";
    if (const QByteArray refusal = install.refusal(QFileInfo(packagePath).fileName());
        !refusal.isEmpty()) {
        qWarning("package refused: %s", refusal.constData());
        return "package-refused";
    }
    if (backupPrivateData) {
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Backup user private data"));
        if (!install.savePrivateData())
            return "backup-failed";
    }
    view.setProgress(30);
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Backup current version"));
    return install.backUp() ? nullptr : "backup-failed";
}

bool UpdateDispatcher::replaceInstallation(InstallTransaction& install)
{
    view.setProgress(50);
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Start update software"));
    if (install.replace())
        return true;
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update fail.restore..."));
    return false;
}

void UpdateDispatcher::closeInstall(InstallTransaction& install, const QString& packagePath,
                                    bool keepBackup)
{
    install.close(packagePath, keepBackup, [this](int percent) { view.setProgress(percent); });
}

void UpdateDispatcher::setCmSetUserId()
{
    setConnectionManagerUserId(settings.basePath, settings.cmName);
}

void UpdateDispatcher::writeUpdatebak()
{
    QFile marker(path("/updatebak.ini"));
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !marker.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return;
    QTextStream(&marker) << "NEED_RETURN=1\n";
}
