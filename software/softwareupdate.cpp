#include "software/softwareupdate.h"

#include "packages/plainfilename.h"
#include "software/installedfile.h"
#include "software/installtransaction.h"
#include "software/packagefiles.h"
#include "software/shell.h"
#include "software/updateview.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

#include <optional>
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
const char* const softwareNotYetRestored =
    QT_TRANSLATE_NOOP("CMUpdater", "The software update failed. The previous version will be "
                                   "restored when the updater starts again.");

// "kill 0" would signal the updater's own process group, so only a real
// process id is accepted.
std::optional<int> dialerPid(const QString& wvdial)
{
    if (wvdial.isEmpty())
        return std::nullopt;
    for (const QChar c : wvdial) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool fits = false;
    const int pid = wvdial.toInt(&fits);
    if (!fits || pid <= 0)
        return std::nullopt;
    return pid;
}

// Inside `...` the shell consumes \ and ` before it sees any quotes, so both
// are escaped once more for the command to arrive unchanged.
QString backquoted(const QString& command)
{
    QString escaped = command;
    escaped.replace('\\', QLatin1String("\\\\")).replace('`', QLatin1String("\\`"));
    return '`' + escaped + '`';
}

// Not through a link: the package may have made the connection manager one.
bool isExecutableFile(const QString& path)
{
    return isRegularFileNoFollow(path) && QFileInfo(path).isExecutable();
}

} // namespace

bool startDetachedProcess(const QString& program, const QString& workingDirectory)
{
    QProcess process;
    process.setProgram(program);
    process.setWorkingDirectory(workingDirectory);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

UpdateDispatcher::UpdateDispatcher(InstallSettings settings, PackageFiles& files, UpdateView& view,
                                   std::function<bool()> updateFirmware)
    : settings(std::move(settings)), files(files), view(view),
      updateFirmware(std::move(updateFirmware))
{
}

void UpdateDispatcher::downloadFinished(bool ok, const UpdateChoice& choice)
{
    if (!ok) {
        view.hideDialog();
        removeWorkFiles();
        view.endEventLoop(1);
        return;
    }
    stopRunningProcesses();
    view.unmarkStep(UpdateStep::Download);
    view.setProgress(0);
    const QList<const char*> failures = runSelectedSteps(choice);
    view.markStep(UpdateStep::End);
    // An install whose backup could not be put back keeps its marker, so the
    // next start finishes the roll-back.
    const bool markerGone =
        !installUnfinished && executeShellChecked("rm -f " + shellQuote(path("/updatebak.ini")));
    view.hideDialog();
    removeWorkFiles();
    if (markerGone)
        restartConnectionManager();
    // The parent reads status 0 as "the update ran"; a failure is told to the user.
    if (!failures.isEmpty())
        view.showWarning(failures);
    view.endEventLoop(0);
}

void UpdateDispatcher::stopRunningProcesses()
{
    if (const std::optional<int> pid = dialerPid(settings.wvdial))
        executeShell("kill " + QString::number(*pid));
    if (isPlainExecutableName(settings.cmName))
        executeShell("kill -9 " + backquoted("pidof " + shellQuote(settings.cmName)));
    std::this_thread::sleep_for(stopPause);
    executeShell("rm -rf /dev/ttyUSB1");
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
            failures << (installUnfinished ? softwareNotYetRestored : softwareRestored);
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
        return true;
    }
    if (updateFirmware())
        return true;
    qWarning("firmware update failed");
    return false;
}

bool UpdateDispatcher::runSoftwareStep(const UpdateChoice& choice)
{
    view.markStep(UpdateStep::Software);
    if (updateSW(choice.softwareFilename, choice.backupPrivateData))
        return true;
    qWarning(installUnfinished ? "software update failed, restore left to the next start"
                               : "software update failed, previous version kept");
    return false;
}

// The connection manager was killed for the update; the user expects it back.
void UpdateDispatcher::restartConnectionManager()
{
    if (isPlainExecutableName(settings.cmName) && isExecutableFile(cmPath()))
        startProcess(cmPath(), settings.basePath);
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
    if (isPlainFileName(softwareFilename) && QFileInfo(packagePath).isFile())
        installed = installSoftware(packagePath, backupPrivateData);
    else
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Invalid software package."));
    view.setProgress(100);
    view.unmarkStep(UpdateStep::Software);
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update end"));
    return installed;
}

bool UpdateDispatcher::installSoftware(const QString& packagePath, bool backupPrivateData)
{
    InstallTransaction install(settings.basePath, files);
    if (install.pending()) {
        // An earlier install's backup waits for the next start to put it back.
        installUnfinished = true;
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update fail.restore..."));
        return false;
    }
    writeUpdatebak();
    view.setProgress(5);
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Unzip package..."));
    if (!preparePackage(install, packagePath, backupPrivateData)) {
        // Nothing of the installation has been replaced yet, so there is
        // nothing to put back, and a half-made private data copy is dropped.
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "update fail.restore..."));
        view.setProgress(70);
        closeInstall(install, packagePath, false);
        return false;
    }
    const bool installed = replaceInstallation(install);
    const bool restored = installed || install.rollBack();
    view.setProgress(70);
    // After a roll-back too: a copy that failed half-way may have reached "/Data".
    const bool consistent = (!backupPrivateData || install.restorePrivateData()) && restored;
    installUnfinished = !consistent;
    if (consistent)
        runFinishHook();
    else
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Restore incomplete, backup kept."));
    closeInstall(install, packagePath, !consistent);
    setCmSetUserId();
    return installed;
}

bool UpdateDispatcher::preparePackage(InstallTransaction& install, const QString& packagePath,
                                      bool backupPrivateData)
{
    const bool unpacked = files.unzip(packagePath);
    view.setProgress(25);
    if (!unpacked)
        return false;
    if (const QByteArray refusal = install.refusal(QFileInfo(packagePath).fileName());
        !refusal.isEmpty()) {
        qWarning("package refused: %s", refusal.constData());
        return false;
    }
    if (backupPrivateData) {
        view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Backup user private data"));
        if (!install.savePrivateData())
            return false;
    }
    view.setProgress(30);
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Backup current version"));
    return install.backUp();
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

void UpdateDispatcher::runFinishHook()
{
    // A link the package brought under this name is not run, nor made executable.
    const QString hook = path("/finish.sh");
    if (!isRegularFileNoFollow(hook))
        return;
    executeShell("chmod a+x " + shellQuote(hook));
    executeShell(shellQuote(hook));
    executeShell("rm -f " + shellQuote(hook));
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
