#include "software/softwareupdate.h"

#include "base/installation.h"
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

const char* const workFiles[] = {"/Description.xml", "/Description.xml.sig",
                                 "/Description.xml.failed", "/UserSelection.xml",
                                 "/FirmwareUpdatePackage_win.zip"};

const char* const firmwareNotUpdated = QT_TRANSLATE_NOOP(
    "CMUpdater",
    "The modem firmware was not updated. Keep the modem plugged in and run the update again.");
const char* const softwarePackageBroken = QT_TRANSLATE_NOOP(
    "CMUpdater", "The software update failed: the downloaded package is damaged and was not "
                 "installed. The connection manager was left running.");
const char* const noRoomToUnpack = QT_TRANSLATE_NOOP(
    "CMUpdater", "The software update failed: there is not enough free disk space to unpack it. "
                 "Free some space and run the update again. The connection manager was left "
                 "running.");
const char* const notUnpacked = QT_TRANSLATE_NOOP(
    "CMUpdater", "The software update failed: the package could not be unpacked. Run the update "
                 "again. The connection manager was left running.");
const char* const firmwarePackageBroken = QT_TRANSLATE_NOOP(
    "CMUpdater", "The firmware update failed: the downloaded package is damaged and was not "
                 "flashed. The connection manager was left running.");

qint64 fileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() ? info.size() : 0;
}

// A download that installs nothing, as the history tells it.
struct DownloadEnd {
    Result result;
    Reason reason;
};

DownloadEnd recordedEnd(DownloadOutcome download)
{
    switch (download) {
    case DownloadOutcome::Cancelled:
        return {Result::Cancelled, Reason::UserCancelled};
    case DownloadOutcome::Refused:
        return {Result::Refused, Reason::PackageUnverified};
    case DownloadOutcome::PackageBroken:
    case DownloadOutcome::FirmwareBroken:
        return {Result::Refused, Reason::PackageBroken};
    case DownloadOutcome::NoRoom:
        return {Result::Failed, Reason::DiskFull};
    case DownloadOutcome::UnpackFailed:
        return {Result::Failed, Reason::UnpackFailed};
    case DownloadOutcome::Downloaded:
    case DownloadOutcome::Failed:
        break;
    }
    return {Result::Failed, Reason::DownloadFailed};
}

} // namespace

bool unzipPackage(PackageFiles& files, const QString& packagePath)
{
    return files.unzip(packagePath);
}

UpdateDispatcher::UpdateDispatcher(Installation installation, PackageFiles& files, UpdateView& view,
                                   std::function<bool()> updateFirmware)
    : installation(std::move(installation)), files(files), view(view),
      updateFirmware(std::move(updateFirmware)),
      manager(this->installation.BASE_PATH, this->installation.CM_NAME, this->installation.WVDIAL),
      record(this->installation.BASE_PATH)
{
}

void UpdateDispatcher::downloadFinished(const UpdateChoice& choice)
{
    beginRecord(choice);
    if (choice.download != DownloadOutcome::Downloaded) {
        endWithoutInstall(choice.download);
        return;
    }
    view.appendLine(
        QT_TRANSLATE_NOOP("CMUpdater", "Stopping %1: the connection drops for a moment..."),
        {installation.CM_NAME});
    stopRunningProcesses();
    view.unmarkStep(UpdateStep::Download);
    view.setProgress(0);
    auto [failures, software] = runSelectedSteps(choice);
    view.markStep(UpdateStep::End);
    const bool markerGone = !software.keepsMarker() &&
                            executeShellChecked("rm -f " + shellQuote(path("/updatebak.ini")));
    // The update page stays while the new version is watched.
    const bool watching = markerGone && software.watchDue();
    if (!watching)
        view.hideDialog();
    removeWorkFiles();
    if (watching)
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Starting the new version..."));
    if (software.restartsManager(markerGone))
        restartConnectionManager();
    if (watching) {
        software = watchNewVersion(software);
        if (!software.installed())
            failures << software.boxText();
        endWatchedUpdate(software.installed());
        view.hideDialog();
    } else if (software.watchDue()) {
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update end"));
    }
    // A version the watch rolled back is no base for the next delta: the tree
    // of the version that runs again stays.
    keepInstalledTree(installation.BASE_PATH, software.installed());
    appendRecord(record.worstResult());
    // The parent reads status 0 as "the update ran"; a failure is told to the user.
    if (!failures.isEmpty())
        view.showWarning(failures);
    view.endEventLoop(0);
}

void UpdateDispatcher::endWithoutInstall(DownloadOutcome download)
{
    view.hideDialog();
    removeWorkFiles();
    const DownloadEnd end = recordedEnd(download);
    record.software(end.result, end.reason);
    record.firmware(end.result);
    appendRecord(end.result);
    if (download == DownloadOutcome::PackageBroken) {
        rememberFailedPackage();
        view.showWarning({softwarePackageBroken});
    } else if (download == DownloadOutcome::FirmwareBroken) {
        rememberFailed(firmwareDigest);
        view.showWarning({firmwarePackageBroken});
    } else if (download == DownloadOutcome::NoRoom || download == DownloadOutcome::UnpackFailed) {
        // The package is good: it is neither remembered nor removed.
        view.showWarning({download == DownloadOutcome::NoRoom ? noRoomToUnpack : notUnpacked});
    }
    view.endEventLoop(1);
}

void UpdateDispatcher::cancelled()
{
    appendRecord(Result::Cancelled, Reason::UserCancelled);
}

void UpdateDispatcher::appendRecord(Result result, Reason reason)
{
    runResult = result;
    const HistoryRecord& appended = record.append(result, reason);
    if (runEnd)
        runEnd(appended);
}

void UpdateDispatcher::beginRecord(const UpdateChoice& choice)
{
    softwareDigest = choice.softwareDigest;
    firmwareDigest = choice.firmwareDigest;
    softwareVersion = choice.softwareVersion;
    const SelectedModule module = choice.selectedModule;
    std::optional<ModuleRecord> software;
    std::optional<ModuleRecord> firmware;
    if (includesSoftware(module))
        software = ModuleRecord{
            installation.SOFTWARE_VERSION, choice.softwareVersion, Result::Failed,
            choice.softwareDelta ? Download::Delta : Download::Full, choice.softwareSource};
    if (includesFirmware(module))
        firmware = ModuleRecord{
            installation.FIRMWARE_VERSION, choice.firmwareVersion, Result::Failed,
            choice.firmwareDelta ? Download::Delta : Download::Full, choice.firmwareSource};
    // What the agent left for this run: the chosen packages as they lie now.
    qint64 bytes = 0;
    for (const QString& name : {choice.softwareFilename, choice.firmwareFilename}) {
        if (isPlainFileName(name))
            bytes += fileSize(installation.BASE_PATH + '/' + name);
    }
    record.choose(std::move(software), std::move(firmware), bytes);
}

void UpdateDispatcher::stopRunningProcesses()
{
    manager.stop();
}

UpdateDispatcher::StepsEnd UpdateDispatcher::runSelectedSteps(const UpdateChoice& choice)
{
    StepsEnd end;
    const auto firmware = [&] {
        if (!runFirmwareStep(choice.descriptionDevice))
            end.failures << firmwareNotUpdated;
    };
    const auto software = [&] {
        end.software = runSoftwareStep(choice);
        if (const char* text = end.software.boxText())
            end.failures << text;
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
    return end;
}

bool UpdateDispatcher::runFirmwareStep(const QString& descriptionDevice)
{
    view.markStep(UpdateStep::Firmware);
    // Firmware made for another model is not a failed flash: nothing is retried.
    if (installation.DEVICE != descriptionDevice) {
        reportFirmwareSkipped(view);
        record.firmware(Result::Failed, Reason::OtherDevice);
        return true;
    }
    if (updateFirmware()) {
        record.firmware(Result::Installed);
        return true;
    }
    qWarning("firmware update failed");
    record.firmware(Result::Failed, Reason::FlashFailed);
    return false;
}

SoftwareOutcome UpdateDispatcher::runSoftwareStep(const UpdateChoice& choice)
{
    view.markStep(UpdateStep::Software);
    const SoftwareOutcome outcome =
        installPackage(choice.softwareFilename, choice.backupPrivateData);
    if (outcome.privateDataPending())
        qWarning("software updated, private data restore left to the next start");
    else if (!outcome.installed())
        qWarning(outcome.keepsMarker() ? "software update failed, restore left to the next start"
                                       : "software update failed, previous version kept");
    return outcome;
}

// The connection manager was killed for the update; the user expects it back.
void UpdateDispatcher::restartConnectionManager()
{
    manager.start();
}

SoftwareOutcome UpdateDispatcher::watchNewVersion(const SoftwareOutcome& installed)
{
    const HealthWatch watch(installation.HEALTH_TIME, [this] { return manager.startedRunning(); });
    InstallTransaction install(installation.BASE_PATH, files, installation.HOOK_TIME);
    if (watch.passes()) {
        install.keepWatched(installed.privateDataPending());
        return installed;
    }
    qWarning("the new connection manager did not keep running, previous version put back");
    rememberFailedPackage();
    manager.killStarted();
    using Kind = SoftwareOutcome::Kind;
    // A kept backup keeps the journal: the next start finishes the roll-back.
    const SoftwareOutcome outcome =
        install.recover(installation.CM_NAME) == InstallTransaction::Recovery::BackupKept
            ? SoftwareOutcome{Kind::RestoreIncomplete, Reason::RestoreIncomplete,
                              installed.managerIntact}
            : SoftwareOutcome{Kind::RolledBack, Reason::DidNotStart, installed.managerIntact};
    recordSoftwareOutcome(outcome);
    if (outcome.kind == Kind::RolledBack)
        restartConnectionManager();
    return outcome;
}

void UpdateDispatcher::endWatchedUpdate(bool running)
{
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update end"));
    if (!running)
        return;
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "%1 %2 is installed and running."),
                    {installation.CM_NAME, softwareVersion});
    std::this_thread::sleep_for(finalPause);
}

void UpdateDispatcher::rememberFailedPackage()
{
    rememberFailed(softwareDigest);
}

void UpdateDispatcher::rememberFailed(const QString& digest)
{
    if (!digest.isEmpty() && !rememberKnownBad(installation.BASE_PATH, digest))
        qWarning("cannot remember the failed package %s", qPrintable(digest));
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
    return installPackage(softwareFilename, backupPrivateData).complete();
}

SoftwareOutcome UpdateDispatcher::installPackage(const QString& softwareFilename,
                                                 bool backupPrivateData)
{
    const QString packagePath = installation.BASE_PATH + '/' + softwareFilename;
    SoftwareOutcome outcome{SoftwareOutcome::Kind::Refused, Reason::InvalidPackage};
    if (isPlainFileName(softwareFilename) && QFileInfo(packagePath).isFile())
        outcome = installSoftware(packagePath, backupPrivateData);
    else
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Invalid software package."));
    recordSoftwareOutcome(outcome);
    view.setProgress(100);
    view.unmarkStep(UpdateStep::Software);
    // A watched version's update ends once the watch is over.
    if (!outcome.watchDue())
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update end"));
    return outcome;
}

SoftwareOutcome UpdateDispatcher::installSoftware(const QString& packagePath,
                                                  bool backupPrivateData)
{
    using Kind = SoftwareOutcome::Kind;
    InstallTransaction install(installation.BASE_PATH, files, installation.HOOK_TIME);
    if (install.pending()) {
        // An earlier install's backup waits for the next start to put it back.
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update fail.restore..."));
        return {Kind::RestoreIncomplete, Reason::RestorePending};
    }
    writeUpdatebak();
    view.setProgress(5);
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Unzip package..."));
    if (const Reason reason = preparePackage(install, packagePath, backupPrivateData);
        reason != Reason::None) {
        // Nothing of the installation has been replaced yet, so there is
        // nothing to put back, and a half-made private data copy is dropped.
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update fail.restore..."));
        view.setProgress(70);
        closeInstall(install, packagePath, false);
        const bool refused = reason == Reason::PackageRefused;
        if (refused)
            rememberFailedPackage();
        return {refused ? Kind::Refused : Kind::Failed, reason};
    }
    // Only a manager the updater may start can show that it runs.
    const bool watched =
        installation.HEALTH_TIME.count() > 0 && isPlainExecutableName(installation.CM_NAME);
    install.setWatched(watched);
    const bool installed = replaceInstallation(install);
    const bool restored = installed || install.rollBack();
    view.setProgress(70);
    // After a roll-back too: a copy that failed half-way may have reached "/Data".
    const bool dataBack = !backupPrivateData || install.restorePrivateData();
    const SoftwareOutcome outcome = copiedOutcome(installed, restored, dataBack, watched,
                                                  install.programIntact(installation.CM_NAME));
    // A watched version keeps its backup and journal until it has shown that it runs.
    if (outcome.watchDue() && dataBack)
        install.dropPrivateDataCopy();
    if (installed) {
        // The installed package's tree waits to become the next delta's base.
        setInstalledTreeAside(installation.BASE_PATH);
        install.runHook();
    }
    if (outcome.keepsMarker())
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Restore incomplete, backup kept."));
    // On disk with the sync that the journal's removal starts with: a cut
    // between the two must not leave the manager without its bit.
    setCmSetUserId();
    closeInstall(install, packagePath, outcome.keepsMarker() || outcome.watchDue());
    return outcome;
}

void UpdateDispatcher::recordSoftwareOutcome(const SoftwareOutcome& outcome)
{
    if (const std::optional<Result> result = outcome.recorded())
        record.software(*result, outcome.reason);
}

Reason UpdateDispatcher::preparePackage(InstallTransaction& install, const QString& packagePath,
                                        bool backupPrivateData)
{
    const bool unpacked = produceTree(files, packagePath);
    view.setProgress(25);
    if (!unpacked)
        return Reason::UnpackFailed;
    if (const QByteArray refusal = install.refusal(QFileInfo(packagePath).fileName());
        !refusal.isEmpty()) {
        qWarning("package refused: %s", refusal.constData());
        return Reason::PackageRefused;
    }
    if (backupPrivateData) {
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Backup user private data"));
        if (!install.savePrivateData())
            return Reason::BackupFailed;
    }
    view.setProgress(30);
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Backup current version"));
    return install.backUp() ? Reason::None : Reason::BackupFailed;
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
    setConnectionManagerUserId(installation.BASE_PATH, installation.CM_NAME);
}

void UpdateDispatcher::writeUpdatebak()
{
    QFile marker(path("/updatebak.ini"));
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !marker.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return;
    QTextStream(&marker) << "NEED_RETURN=1\n";
}
