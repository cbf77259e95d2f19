#include "app/globals.h"
#include "app/startup.h"
#include "packages/xmlparser.h"
#include "trust/descriptionbinding.h"
#include "trust/updatetrust.h"
#include "wizard/cmupdater.h"
#include "wizard/guithread.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <thread>

void CMUpdater::sleepOnThisThread(std::chrono::milliseconds pause)
{
    std::this_thread::sleep_for(pause);
}

void CMUpdater::run()
{
    timing.watchdogSleep(timing.watchdog);
    if (exitPending) {
        // Posted, not waited for: the GUI thread may be busy, and the process ends here.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        endProcess(0);
    }
}

void CMUpdater::HaveNewVersion()
{
    exitPending = false;
    xmlParser->version.clear();
    xmlParser->description.clear();
    xmlParser->setFile(QString());
    xmlParser->get();
    const _CLIENT_INFO& client = updateInfo.client;
    const InstallationIdentity installation{QString::fromLocal8Bit(client.clientGroup),
                                            QString::fromLocal8Bit(client.softwareVersion),
                                            QString::fromLocal8Bit(client.firmwareVersion)};
    if (!acceptDescription(BASE_PATH, *xmlParser, installation)) {
        endCheck(QT_TR_NOOP("Check version failed,updater will exit"));
        return;
    }
    qWarning("%s", xmlParser->flag.toLocal8Bit().constData());

    const int flag = xmlParser->flag.toInt(); // text that is no number counts as 0
    if (flag == 0)
        endCheck(QT_TR_NOOP("Check version failed,updater will exit"));
    else if (flag >= 1 && flag <= 3)
        endCheck(QT_TR_NOOP("No new version, updater will exit"));
    else {
        softwareDownload.choose(BASE_PATH, xmlParser->doc, xmlParser->software);
        noticeShow();
    }
}

// The check ended without a new version: the dialog was never shown, so the
// texts set here are not seen; the pause keeps to the agreed end of a check.
void CMUpdater::endCheck(const char* outcome)
{
    onGuiThread([this, outcome] {
        descriptionNoticeContent->setText(tr(outcome));
        noticeNext->setEnabled(false);
    });
    sleepOnThisThread(timing.checkEndPause);
    endEventLoop(0);
    endProcess(0);
}

void CMUpdater::ManualUpdateState(int state)
{
    static const char* const names[] = {
        "CHECKVERSION_STATE_LOCALVERSION",       "CHECKVERSION_STATE_ISLASTESTVERSION",
        "CHECKVERSION_STATE_DOWNLOADING",        "CHECKVERSION_STATE_DOWNLOADING_SUCCESS",
        "CHECKVERSION_STATE_DOWNLOADING_FAILED", "CHECKVERSION_STATE_DOWNLOADING_REFUSE",
        "CHECKVERSION_STATE_NO_DOWNLOADING",
    };
    if (state >= 1 && state <= 7)
        qWarning("%s", names[state - 1]);
}

void CMUpdater::DownloadProcess(QString filename, int percent)
{
    bool* started = nullptr;
    bool* finished = nullptr;
    if (filename == softwarePackage().filename) {
        started = &soft_down_setted0;
        finished = &soft_down_setted100;
    } else if (filename == xmlParser->firmware.filename) {
        started = &firm_down_setted0;
        finished = &firm_down_setted100;
    } else {
        return;
    }
    const char* startText = started == &soft_down_setted0
                                ? QT_TR_NOOP("Downloading software packages...")
                                : QT_TR_NOOP("Downloading firmware packages...");
    onGuiThread([=, this] {
        updateProgressBar->setValue(percent);
        if (percent == 0 && !*started) {
            addStatusLine(tr(startText));
            *started = true;
        }
        if (percent == 100 && !*finished) {
            addStatusLine(tr("Download succeed"));
            *finished = true;
        }
    });
}
