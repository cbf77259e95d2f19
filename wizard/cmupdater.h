#pragma once

#include "delta/softwaredownload.h"
#include "packages/selectedmodule.h"
#include "software/updateview.h"
#include "wizard/downloadmeter.h"

#include <QDateTime>
#include <QDialog>
#include <QFont>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTableWidget;
class QThread;

class DownloadCompletion;
class FirmwareStep;
class PackageFiles;
struct PackageInfo;
class CMUpdater;
class UCInterface;
class UpdateDispatcher;
class XmlParser;
struct _PDLData;

// The dialog the update agent's callbacks and the flash reach.
extern CMUpdater* mainWindow;

// The updater's one window: a wizard of four stacked pages (version check,
// notice, package selection, update). The agent's callbacks reach it on the
// agent's thread; every widget change is handed to the GUI thread.
class CMUpdater final : public QDialog, private UpdateView {
    Q_OBJECT

public:
    CMUpdater(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
              Qt::WindowFlags flags = {});
    ~CMUpdater() override;

    static CMUpdater* getUpdater();

    // The start-up watchdog: runs once on its own thread.
    void startWatchdog();
    void run();

    // The one version-check request.
    void getDesc();

    // Agent callbacks (agent thread).
    void HaveNewVersion();
    void ManualUpdateState(int state);
    void DownloadProcess(QString filename, int percent);
    void DownloadFinished(bool ok);

    void createSelectxml(SelectedModule module);
    bool updateSW();
    int getPDLData(_PDLData* data);

    // Waits the flow requires, and how the process ends; tests shorten or record them.
    using Sleep = std::function<void(std::chrono::milliseconds)>;
    static void sleepOnThisThread(std::chrono::milliseconds pause);
    struct Timing {
        std::chrono::milliseconds watchdog{10000};
        // How the watchdog waits: tests take the wait into their own hands.
        Sleep watchdogSleep = sleepOnThisThread;
        std::chrono::milliseconds checkEndPause{3000};
        std::chrono::milliseconds stopPause{5000};
        // How long "... is installed and running." stays before the dialog goes.
        std::chrono::milliseconds finalPause{2000};
    };
    void setTiming(const Timing& timing);
    void setProcessEnd(std::function<void(int)> end);

protected:
    // Escape and closing the window: Cancel before the update, a stop of
    // the download during it, nothing once the install has begun.
    void reject() override;

protected slots:
    virtual void languageChange();
    virtual void cancelClicked();
    virtual void noticeNextClicked();
    virtual void selectBackClicked();
    virtual void selectUpdateClicked();
    virtual void updateCancelClicked();
    virtual void noticeShow();
    void tableItemChanged(int row, int col, int button);
    void showPackageDes();

public slots:
    bool updateFW();

private:
    void buildNoticePage();
    void buildSelectPage();
    void buildUpdatePage();
    void buildCheckPage();
    void connectAgent();
    void fillPackageRow(int row, const char* kind, const PackageInfo& package);
    bool rowShowsFirmwareOnly() const;
    bool rowTicked(int row) const;
    SelectedModule chosenModule() const;
    void endCheck(const char* outcome);
    void endProcess(int status);
    // The packages' records as downloaded: their own, or their deltas'.
    PackageInfo softwarePackage() const;
    PackageInfo firmwarePackage() const;
    // The download's completion asks for the packages that fell back from
    // their deltas.
    void downloadAgain(SelectedModule again);
    // A progress report's file starts: its size and what an earlier run left of it.
    void startMeter(const QString& filename, const PackageInfo& package);

    // UpdateView, on the GUI thread.
    void setProgress(int percent) override;
    void setProgress(int percent, const QString& text) override;
    void appendLine(const char* text) override;
    void appendLine(const char* text, const QStringList& arguments) override;
    void appendLineOnce(const char* text, const QString& scope) override;
    void markStep(UpdateStep step) override;
    void unmarkStep(UpdateStep step) override;
    void hideDialog() override;
    void showWarning(const QList<const char*>& texts) override;
    void endEventLoop(int code) override;
    QLabel* stepLabel(UpdateStep step) const;
    // GUI thread only; scope as appendLineOnce's.
    void addStatusLine(const QString& line, const QString& scope = {});

    static CMUpdater* cmupdater;

    QStackedWidget* centerStack = nullptr;
    QWidget* noticeWStackPage = nullptr;
    QPushButton* noticeNext = nullptr;
    QPushButton* noticeCancel = nullptr;
    QFrame* noticeFrame = nullptr;
    QLabel* notice = nullptr;
    QLabel* versionNotice = nullptr;
    QLabel* versionNoticeContent = nullptr;
    QLabel* descriptionNotice = nullptr;
    QLabel* descriptionNoticeContent = nullptr;
    QWidget* selectWStackPage = nullptr;
    QPushButton* selectBack = nullptr;
    QPushButton* selectUpdate = nullptr;
    QPushButton* selectCancel = nullptr;
    QTableWidget* selectTable = nullptr;
    QFrame* selectFrame = nullptr;
    QLabel* descriptionselect = nullptr;
    QWidget* updateWStackPage = nullptr;
    QPushButton* updateCancel = nullptr;
    QListWidget* updateListbox = nullptr;
    QProgressBar* updateProgressBar = nullptr;
    QLabel* downloadLabel = nullptr;
    QLabel* updateFWLabel = nullptr;
    QLabel* updateSWLabel = nullptr;
    QLabel* updateEndLabel = nullptr;
    QWidget* checkWStackPage = nullptr;
    QFrame* checkFrame = nullptr;
    QLabel* checkInfo = nullptr;
    QFont boldFont;
    QFont normalFont;

public:
    XmlParser* xmlParser = nullptr;
    bool backupPrivateData = false;

private:
    UCInterface* ucInterface = nullptr;

public:
    SelectedModule selectedModule = SELECTED_NONE;
    // Where the run stands: the slots and the agent's callbacks move it on;
    // Escape and closing (GUI thread) and the watchdog (its own thread) read it.
    enum class Phase { Checking, Notice, Selecting, Downloading, Installing, Done };
    // No version answer yet: the watchdog ends the process.
    bool exitPending() const { return phase == Phase::Checking; }
    // The user stopped the download.
    std::atomic<bool> downloadStopped{false};

private:
    // When the version check was asked for, for its history record.
    QDateTime checkStarted;
    char* updateConfigPath = nullptr;
    QThread* watchdog = nullptr;
    Timing timing;
    std::function<void(int)> processEnd;
    std::unique_ptr<PackageFiles> packageFiles;
    std::unique_ptr<FirmwareStep> firmwareStep;
    std::unique_ptr<UpdateDispatcher> dispatcher;
    std::unique_ptr<DownloadCompletion> completion;
    PackageDownload softwareDownload{softwareTrees};
    PackageDownload firmwareDownload{firmwareTrees};
    // The progress text of the file being downloaded; the agent's thread only.
    DownloadMeter meter;
    std::atomic<Phase> phase{Phase::Checking};

public:
    // Which download brought the software package, once it is chosen.
    DownloadUsed softwareDownloadUsed() const;
};
