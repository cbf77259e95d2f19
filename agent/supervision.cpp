#include "agent/checkanswer.h"
#include "agent/updateinfo.h"
#include "base/globals.h"
#include "packages/xmlparser.h"
#include "software/softwareupdate.h"
#include "trust/descriptionbinding.h"
#include "wizard/cmupdater.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <thread>

void CMUpdater::sleepOnThisThread(std::chrono::milliseconds pause)
{
    std::this_thread::sleep_for(pause);
}

void CMUpdater::run()
{
    timing.watchdogSleep(timing.watchdog);
    if (exitPending()) {
        // The check was asked for as the wait began.
        const QDateTime asked = QDateTime::currentDateTimeUtc().addMSecs(-timing.watchdog.count());
        recordCheck(BASE_PATH, {Result::CheckFailed, Reason::NoAnswer}, asked);
        // Posted, not waited for: the GUI thread may be busy, and the process ends here.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        endProcess(0);
    }
}

void CMUpdater::HaveNewVersion()
{
    // The answer is in: the watchdog stands down; the notice or the end follows.
    phase = Phase::Notice;
    const _CLIENT_INFO& client = updateInfo.client;
    const InstallationIdentity installation{QString::fromLocal8Bit(client.clientGroup),
                                            QString::fromLocal8Bit(client.softwareVersion),
                                            QString::fromLocal8Bit(client.firmwareVersion)};
    const CheckOutcome outcome = judgeCheckAnswer(BASE_PATH, *xmlParser, installation);
    recordCheck(BASE_PATH, outcome, checkStarted);
    if (outcome.result == Result::Refused && outcome.reason != Reason::KnownBad &&
        outcome.reason != Reason::NotNewer) {
        endCheck(QT_TR_NOOP("Check version failed,updater will exit"));
        return;
    }
    dispatcher->descriptionVerified(outcome.keyId);
    qWarning("%s", xmlParser->flag.toLocal8Bit().constData());

    const int flag = xmlParser->flag.toInt(); // text that is no number counts as 0
    if (flag == 0)
        endCheck(QT_TR_NOOP("Check version failed,updater will exit"));
    else if (flag >= 1 && flag <= 3)
        endCheck(QT_TR_NOOP("No new version, updater will exit"));
    else {
        softwareDownload.choose(BASE_PATH, xmlParser->doc, xmlParser->software);
        firmwareDownload.choose(BASE_PATH, xmlParser->doc, xmlParser->firmware);
        noticeShow();
    }
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

void CMUpdater::startMeter(const QString& filename, const PackageInfo& package)
{
    const QFileInfo part(BASE_PATH + '/' + filename + QLatin1String(".part"));
    meter.start(filename, package.size.toLongLong(), part.isFile() ? part.size() : 0);
}

void CMUpdater::DownloadProcess(QString filename, int percent)
{
    const PackageInfo software = softwarePackage();
    const bool isSoftware = filename == software.filename;
    if (!isSoftware && filename != firmwarePackage().filename)
        return;
    if (meter.file() != filename)
        startMeter(filename, isSoftware ? software : xmlParser->firmware);
    const int resumed = meter.resumedAt(percent);
    // A package that falls back from its delta is a new download: its lines are told again.
    const PackageDownload& download = isSoftware ? softwareDownload : firmwareDownload;
    const QString scope = QLatin1String(isSoftware ? "software" : "firmware") +
                          QLatin1String(download.usesDelta() ? " delta" : "");
    UpdateView& view = *this;
    view.setProgress(percent, meter.text(percent));
    if (percent == 0)
        view.appendLineOnce(isSoftware ? QT_TR_NOOP("Downloading software packages...")
                                       : QT_TR_NOOP("Downloading firmware packages..."),
                            scope);
    if (resumed > 0)
        view.appendLine(QT_TR_NOOP("Resuming at %1 %..."), {QString::number(resumed)});
    if (percent == 100)
        view.appendLineOnce(QT_TR_NOOP("Download succeed"), scope);
}
