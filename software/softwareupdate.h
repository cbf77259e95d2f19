#pragma once

#include "base/installation.h"
#include "history/runrecord.h"
#include "packages/selectedmodule.h"
#include "software/connectionmanager.h"
#include "software/softwareoutcome.h"

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <utility>

class InstallTransaction;
class PackageFiles;
class UpdateView;

// What the user chose and what the package description says about it.
struct UpdateChoice {
    SelectedModule selectedModule = SELECTED_NONE;
    bool backupPrivateData = false;
    QString descriptionDevice;
    QString softwareFilename;
    QString firmwareFilename{};
    // The versions offered.
    QString softwareVersion{};
    QString firmwareVersion{};
    DownloadOutcome download = DownloadOutcome::Downloaded;
    // The software package came as a delta.
    bool softwareDelta = false;
    // The software package's identity, remembered when it fails here.
    QString softwareDigest{};
    // The firmware package came as a delta.
    bool firmwareDelta = false;
    // The firmware package's identity, remembered when it fails here.
    QString firmwareDigest{};
    // Where the packages came from when not their own URLs, for the record:
    // a mirror's URL base or "folder".
    QString softwareSource{};
    QString firmwareSource{};
};

// Everything that follows the end of the download: stopping the dialer and the
// connection manager, the firmware and software steps, the clean-up, and the
// end of the event loop.
bool unzipPackage(PackageFiles& files, const QString& packagePath);

class UpdateDispatcher final {
public:
    // updateFirmware flashes the downloaded firmware package; false when the
    // modem did not take it.
    UpdateDispatcher(Installation installation, PackageFiles& files, UpdateView& view,
                     std::function<bool()> updateFirmware);

    // How long the stopped processes get to let go of the modem.
    void setStopPause(std::chrono::milliseconds pause) { manager.setStopPause(pause); }
    // How long the line that the new version runs stays before the dialog goes.
    void setFinalPause(std::chrono::milliseconds pause) { finalPause = pause; }
    void setProcessStarter(ProcessStarter starter)
    {
        manager.setProcessStarter(std::move(starter));
    }
    // How the package's files reach "/download": unpacked from the package
    // file, or, for a delta, already rebuilt there.
    using TreeSource = std::function<bool(PackageFiles& files, const QString& packagePath)>;
    void setTreeSource(TreeSource source) { produceTree = std::move(source); }
    // Told the run's record once the run is over, the connection manager
    // running again where it was stopped.
    using RunEnd = std::function<void(const HistoryRecord& record)>;
    void setRunEnd(RunEnd end) { runEnd = std::move(end); }

    // The run's record names the key that verified the description and
    // whether the release was taken before this installation's turn.
    void descriptionAccepted(const QString& keyId, bool early) { record.accepted(keyId, early); }
    void downloadFinished(const UpdateChoice& choice);
    // The user left the wizard before the update began.
    void cancelled();
    // The run's result, once it is over.
    Result result() const { return runResult; }
    // Installs the package softwareFilename of the installation, rolling back when
    // the copy fails; true only when the new version and its private data are in place.
    bool updateSW(const QString& softwareFilename, bool backupPrivateData);
    // The in-progress marker, removed again when the dispatcher ends.
    void writeUpdatebak();

private:
    // What the chosen steps left.
    struct StepsEnd {
        // The warnings for the steps that failed, in the order the steps ran.
        QList<const char*> failures;
        SoftwareOutcome software;
    };

    // A download that installs nothing ends the run here.
    void endWithoutInstall(DownloadOutcome download);
    void stopRunningProcesses();
    StepsEnd runSelectedSteps(const UpdateChoice& choice);
    // False when a flash was due and the modem did not take the firmware.
    bool runFirmwareStep(const QString& descriptionDevice);
    SoftwareOutcome runSoftwareStep(const UpdateChoice& choice);
    SoftwareOutcome installPackage(const QString& softwareFilename, bool backupPrivateData);
    void restartConnectionManager();
    // After the restart: keeps the new version once it has kept running for
    // the health time, puts the previous one back otherwise; the outcome
    // after the watch.
    SoftwareOutcome watchNewVersion(const SoftwareOutcome& installed);
    // The watch is over: "update end", and for a version that runs, a line
    // that says so, left in view for a moment.
    void endWatchedUpdate(bool running);
    // The software package failed here: it is not offered again.
    void rememberFailedPackage();
    void rememberFailed(const QString& digest);
    void appendRecord(Result result, Reason reason = Reason::None);
    void removeWorkFiles();

    SoftwareOutcome installSoftware(const QString& packagePath, bool backupPrivateData);
    // None when the package is unpacked, accepted and backed up; the
    // history's reason otherwise.
    Reason preparePackage(InstallTransaction& install, const QString& packagePath,
                          bool backupPrivateData);
    bool replaceInstallation(InstallTransaction& install);
    void closeInstall(InstallTransaction& install, const QString& packagePath, bool keepBackup);
    void setCmSetUserId();

    void beginRecord(const UpdateChoice& choice);
    void recordSoftwareOutcome(const SoftwareOutcome& outcome);

    QString path(const char* name) const { return installation.path(name); }
    QString cmPath() const { return installation.BASE_PATH + '/' + installation.CM_NAME; }

    Installation installation;
    PackageFiles& files;
    UpdateView& view;
    std::function<bool()> updateFirmware;
    ConnectionManager manager;
    TreeSource produceTree = unzipPackage;
    RunEnd runEnd;
    RunRecord record;
    QString softwareDigest;
    QString firmwareDigest;
    Result runResult = Result::Cancelled;
    QString softwareVersion;
    std::chrono::milliseconds finalPause{2000};
};
