#pragma once

#include "history/runrecord.h"
#include "packages/selectedmodule.h"
#include "software/connectionmanager.h"

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <utility>

class InstallTransaction;
class PackageFiles;
class UpdateView;

// The settings the update steps work with.
struct InstallSettings {
    QString basePath; // the installation directory, no trailing slash
    QString cmName;   // the connection manager's executable, inside basePath
    QString wvdial;   // the dialer's process id
    QString device;   // the configured device model
    // The installed versions, as configured.
    QString softwareVersion{};
    QString firmwareVersion{};
    // How long a newly installed connection manager must keep running before
    // its backup goes; zero keeps it without a watch.
    std::chrono::seconds healthTime{0};
};

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
    // The download ended but its packages did not pass the checks.
    bool refused = false;
    // The packages came as deltas.
    bool softwareDelta = false;
    bool firmwareDelta = false;
};

// Everything that follows the end of the download: stopping the dialer and the
// connection manager, the firmware and software steps, the clean-up, and the
// end of the event loop.
bool unzipPackage(PackageFiles& files, const QString& packagePath);

class UpdateDispatcher final {
public:
    // updateFirmware flashes the downloaded firmware package; false when the
    // modem did not take it.
    UpdateDispatcher(InstallSettings settings, PackageFiles& files, UpdateView& view,
                     std::function<bool()> updateFirmware);

    // How long the stopped processes get to let go of the modem.
    void setStopPause(std::chrono::milliseconds pause) { manager.setStopPause(pause); }
    void setProcessStarter(ProcessStarter starter)
    {
        manager.setProcessStarter(std::move(starter));
    }
    // How the package's files reach "/download": unpacked from the package
    // file, or, for a delta, already rebuilt there.
    using TreeSource = std::function<bool(PackageFiles& files, const QString& packagePath)>;
    void setTreeSource(TreeSource source) { produceTree = std::move(source); }

    void downloadFinished(bool ok, const UpdateChoice& choice);
    // The user left the wizard before the update began.
    void cancelled();
    // Installs the package BASE_PATH + "/" + softwareFilename, rolling back when
    // the copy fails; true only when the new version is in place.
    bool updateSW(const QString& softwareFilename, bool backupPrivateData);
    // The in-progress marker, removed again when the dispatcher ends.
    void writeUpdatebak();

private:
    void stopRunningProcesses();
    // The warnings for the steps that failed, in the order the steps ran.
    QList<const char*> runSelectedSteps(const UpdateChoice& choice);
    // False when a flash was due and the modem did not take the firmware.
    bool runFirmwareStep(const QString& descriptionDevice);
    // False when the new version is not in place.
    bool runSoftwareStep(const UpdateChoice& choice);
    // The box text for a software step that did not end as a clean install.
    const char* failedSoftwareText() const;
    void restartConnectionManager();
    // After the restart: keeps the new version once it has kept running for
    // the health time, puts the previous one back otherwise; the warning for
    // a roll-back, or nullptr.
    const char* watchNewVersion();
    void removeWorkFiles();

    bool installSoftware(const QString& packagePath, bool backupPrivateData);
    // Nullptr when the package is unpacked, accepted and backed up; the
    // history's reason otherwise.
    const char* preparePackage(InstallTransaction& install, const QString& packagePath,
                               bool backupPrivateData);
    bool replaceInstallation(InstallTransaction& install);
    void closeInstall(InstallTransaction& install, const QString& packagePath, bool keepBackup);
    void setCmSetUserId();

    void beginRecord(const UpdateChoice& choice);
    // The software step's outcome, once the install and its private data ended.
    void recordSoftwareOutcome(bool installed);

    QString path(const char* name) const { return settings.basePath + name; }
    QString cmPath() const { return settings.basePath + '/' + settings.cmName; }

    InstallSettings settings;
    PackageFiles& files;
    UpdateView& view;
    std::function<bool()> updateFirmware;
    ConnectionManager manager;
    TreeSource produceTree = unzipPackage;
    // The install left its backup and journal for the next start to finish.
    bool installUnfinished = false;
    // The new version is in place; its private data wait for the next start.
    bool privateDataPending = false;
    // The connection manager's executable may be started after the install.
    bool cmIntact = true;
    // The new version is in place and must show that it runs.
    bool watchDue = false;
    RunRecord record;
};
