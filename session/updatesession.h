#pragma once

#include "agent/foldersource.h"
#include "base/installation.h"
#include "delta/softwaredownload.h"
#include "firmware/firmwareupdate.h"
#include "history/recordwords.h"
#include "packages/selectedmodule.h"
#include "packages/xmlparser.h"
#include "session/downloadcompletion.h"
#include "session/downloadmeter.h"
#include "session/observerrelay.h"
#include "session/reportdelivery.h"
#include "software/packagefiles.h"
#include "software/softwareupdate.h"

#include <QDateTime>
#include <QList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

struct _PDLData;

// One package the check offers, as the selection page and "--check" list it:
// its delta when one fits the tree kept here.
struct Offer {
    const char* kind; // "software" or "firmware"
    QString from;     // the installed version
    PackageInfo package;
    Download download;
};

// One run of the updater without a window: the version check and its answer,
// the choice, the downloads and their completion, the firmware and software
// steps, the watch and the history's records. It reports through its observer,
// whatever face that is, and asks nothing of widgets.
class UpdateSession final : public AgentListener {
public:
    // Where the run stands: the face's calls and the agent's callbacks move it
    // on; the face (Escape, closing) and the watchdog read it.
    enum class Phase { Checking, Notice, Selecting, Downloading, Installing, Done };

    // Waits the flow requires, and how the process ends; tests and the
    // command-line faces shorten or replace them.
    using Sleep = std::function<void(std::chrono::milliseconds)>;
    static void sleepOnThisThread(std::chrono::milliseconds pause);
    struct Timing {
        std::chrono::milliseconds watchdog{10000};
        // How the watchdog waits: tests take the wait into their own hands.
        Sleep watchdogSleep = sleepOnThisThread;
        std::chrono::milliseconds checkEndPause{3000};
        std::chrono::milliseconds stopPause{5000};
        // How long "... is installed and running." stays before the run ends.
        std::chrono::milliseconds finalPause{2000};
    };

    // From the update-agent library, or, given a folder, from that folder.
    explicit UpdateSession(Installation installation,
                           std::optional<FolderOrigin> folder = std::nullopt);
    ~UpdateSession() override;
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    // The face that shows this run; reports wait until one is attached.
    void attach(SessionObserver& observer) { relay.attach(observer); }
    const Installation& installation() const { return setup; }
    const XmlParser& description() const { return parser; }

    void setTiming(const Timing& timing);
    void setProcessEnd(std::function<void(int)> end) { processEnd = std::move(end); }
    // A release held back for a later stage is taken all the same, as early.
    void takeEarly() { early = true; }

    // The start-up watchdog: ends the run when no answer came in time.
    void startWatchdog();
    // The one version-check request.
    void startCheck();

    // The packages offered, after an answer that offers any.
    QList<Offer> offers() const;
    // The records as downloaded: the packages' own, or their deltas'.
    PackageInfo softwarePackage() const;
    PackageInfo firmwarePackage() const;
    DownloadUsed softwareDownloadUsed() const;
    // With a single package row, row 0 stands for the firmware package when no
    // software package is offered.
    bool firstRowIsFirmware() const;
    // The choice from the ticks of the two rows; a ticked row whose package
    // has no file name leaves the earlier choice in force.
    SelectedModule choiceFromRows(bool first, bool second) const;

    // The face's choice: the private-data question when the software is in
    // it, the selection file, and the download.
    void choose(SelectedModule module);
    // The face went back from the choice to the notice.
    void backToNotice() { phase = Phase::Notice; }
    void showChoice() { phase = Phase::Selecting; }
    // The user left before the update began.
    void cancel();
    // Escape during the download: the agent stops, keeping what it got.
    void stopDownload();
    Phase currentPhase() const { return phase; }
    // No version answer yet: the watchdog ends the process.
    bool exitPending() const { return phase == Phase::Checking; }
    // The run's result once it is over.
    Result result() const { return dispatcher.result(); }
    // "--check" keeps nothing of its answer: the next run asks again.
    void forgetAnswer() const;
    // Waits for the run's outcome reports: at most their budget.
    void finishReports() { reports.finish(); }

    void createSelectxml(SelectedModule module);
    bool updateSW();
    bool updateFW();
    int getPDLData(_PDLData* data);

    // Agent callbacks (agent thread).
    void HaveNewVersion() override;
    void ManualUpdateState(int state) override;
    void DownloadProcess(QString filename, int percent) override;
    void DownloadFinished(bool ok) override;

    SelectedModule selectedModule = SELECTED_NONE;
    bool backupPrivateData = false;
    // The user stopped the download.
    std::atomic<bool> downloadStopped{false};

private:
    void runWatchdog();
    void endCheck(const CheckOutcome& outcome, const char* text);
    // The line a refused description ends the check with.
    const char* refusalText(const CheckOutcome& outcome);
    // The report of a run that ended at the check, or with this record.
    std::optional<ReportedRun> checkReport(const CheckOutcome& outcome) const;
    std::optional<ReportedRun> runReport(const HistoryRecord& record) const;
    void endProcess(int status);
    // Only the packages that fell back from their delta are fetched again.
    void downloadAgain(SelectedModule again);
    // A progress report's file starts: its size and what an earlier run left of it.
    void startMeter(const QString& filename, const PackageInfo& package);
    // A package in: the mirror that served it, when one did, is kept for the
    // record and named on the update page.
    void noteOrigin(const QString& filename, bool isSoftware);
    UpdateChoice choice(DownloadOutcome outcome) const;

    Installation setup;
    ObserverRelay relay;
    XmlParser parser;
    PackageFiles files;
    FirmwareStep firmwareStep;
    UpdateDispatcher dispatcher;
    PackageDownload softwareDownload{softwareTrees};
    PackageDownload firmwareDownload{firmwareTrees};
    DownloadCompletion completion;
    // The progress text of the file being downloaded; the agent's thread only.
    DownloadMeter meter;
    // The mirrors that served the packages; empty for their own URLs.
    QString softwareSource;
    QString firmwareSource;
    Timing timing;
    std::function<void(int)> processEnd;
    // When the version check was asked for, for its history record.
    QDateTime checkStarted;
    std::atomic<Phase> phase{Phase::Checking};
    bool early = false;
    // The release comes from a folder: no watchdog, and its packages are recorded so.
    const bool fromFolder;
    std::thread watchdog;
    ReportDelivery reports{setup};
    // Last: its callbacks reach everything above.
    std::unique_ptr<UpdateSource> agent;
};
