#pragma once

#include "packages/selectedmodule.h"
#include "session/sessionobserver.h"
#include "session/updatesession.h"

#include <QDialog>
#include <QFont>

#include <functional>

class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTableWidget;

struct _PDLData;

// The updater's window: a wizard of four stacked pages (version check,
// notice, package selection, update) that shows what its update session
// reports. Reports come on the session's threads; every widget change is
// handed to the GUI thread.
class CMUpdater final : public QDialog, private SessionObserver {
    Q_OBJECT

public:
    CMUpdater(UpdateSession& session, QWidget* parent = nullptr, const char* name = nullptr,
              bool modal = false, Qt::WindowFlags flags = {});
    ~CMUpdater() override;

    // The one window, while it exists.
    static CMUpdater* getUpdater();
    UpdateSession& session() { return run; }

    // The session's steps under the names the dialog has always had.
    void startWatchdog();
    void getDesc();
    void HaveNewVersion();
    void ManualUpdateState(int state);
    void DownloadProcess(QString filename, int percent);
    void DownloadFinished(bool ok);
    void createSelectxml(SelectedModule module);
    bool updateSW();
    int getPDLData(_PDLData* data);
    bool exitPending() const { return run.exitPending(); }

    using Timing = UpdateSession::Timing;
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
    void fillPackageRow(int row, const char* kind, const PackageInfo& package);
    // Accessible names and descriptions, in the current language.
    void nameControls();
    void describePackageRow(int row, const PackageInfo& package);
    bool rowTicked(int row) const;
    // The check ended without a new version: the dialog was never shown, so
    // the texts set here are not seen.
    void showCheckEnd(const CheckReport& report);
    void showUpdatePage();

    // SessionObserver, on the GUI thread.
    void checkAnswered(const CheckReport& report) override;
    bool keepPrivateData() override;
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
    QLabel* selectRateLabel = nullptr; // the agent's download cap, when one is set
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

    UpdateSession& run;
};
