#include "session/updatesession.h"

#include "agent/checkanswer.h"
#include "agent/updateinfo.h"
#include "base/processend.h"
#include "packages/knownbad.h"
#include "packages/selectionfile.h"
#include "session/packageorigin.h"
#include "trust/descriptionbinding.h"

#include <QFile>
#include <QFileInfo>

namespace {

bool offered(const PackageInfo& package)
{
    return !package.packageClass.isEmpty();
}

InstallationIdentity identityOf(const Installation& installation)
{
    return {installation.CLINT_GROUP, installation.SOFTWARE_VERSION, installation.FIRMWARE_VERSION};
}

QString versions(const QString& software, const QString& firmware)
{
    return software + '+' + firmware;
}

bool reported(Result result)
{
    return result == Result::Installed || result == Result::RolledBack ||
           result == Result::Failed || result == Result::Refused || result == Result::CheckFailed;
}

// A run from a folder sends nothing anywhere, its outcome report neither.
Installation offline(Installation installation, bool fromFolder)
{
    if (fromFolder)
        installation.REPORTS = false;
    return installation;
}

std::unique_ptr<UpdateSource> openSource(AgentListener& listener, const Installation& setup,
                                         std::optional<FolderOrigin> folder)
{
    if (folder)
        return std::make_unique<FolderSource>(listener, setup.BASE_PATH, std::move(*folder));
    auto library = std::make_unique<UCInterface>(listener);
    library->RegisterSelf();
    library->GetAgent();
    library->SetFilePath(setup.settingsPath());
    library->Init();
    return library;
}

} // namespace

void UpdateSession::sleepOnThisThread(std::chrono::milliseconds pause)
{
    std::this_thread::sleep_for(pause);
}

UpdateSession::UpdateSession(Installation installation, std::optional<FolderOrigin> folder)
    : setup(offline(std::move(installation), folder.has_value())), files(setup.BASE_PATH),
      firmwareStep(setup.BASE_PATH, files, relay),
      dispatcher(setup, files, relay, [this] { return updateFW(); }),
      completion(
          setup.BASE_PATH, parser, softwareDownload, firmwareDownload,
          [this](UpdateDispatcher::TreeSource source) {
              dispatcher.setTreeSource(std::move(source));
          },
          [this](SelectedModule again) { downloadAgain(again); }),
      processEnd(terminateProcess), fromFolder(folder.has_value()),
      agent(openSource(*this, setup, std::move(folder)))
{
    dispatcher.setRunEnd([this](const HistoryRecord& record) { reports.start(runReport(record)); });
    if (fromFolder)
        softwareSource = firmwareSource = QStringLiteral("folder");
}

UpdateSession::~UpdateSession()
{
    if (watchdog.joinable())
        watchdog.join();
    // The agent's thread may call back until the bridge is gone.
    agent.reset();
}

void UpdateSession::setTiming(const Timing& newTiming)
{
    timing = newTiming;
    dispatcher.setStopPause(timing.stopPause);
    dispatcher.setFinalPause(timing.finalPause);
}

void UpdateSession::startWatchdog()
{
    // A folder answers once its copy is done, however slow the stick.
    if (fromFolder)
        return;
    watchdog = std::thread([this] { runWatchdog(); });
}

void UpdateSession::runWatchdog()
{
    timing.watchdogSleep(timing.watchdog);
    if (!exitPending())
        return;
    phase = Phase::Done;
    // The check was asked for as the wait began.
    const QDateTime asked = QDateTime::currentDateTimeUtc().addMSecs(-timing.watchdog.count());
    const CheckOutcome outcome{Result::CheckFailed, Reason::NoAnswer};
    recordCheck(setup.BASE_PATH, outcome, asked);
    reports.start(checkReport(outcome));
    relay.checkAnswered({outcome, nullptr});
    reports.finish();
    // Posted, not waited for: the face's thread may be busy, and the process ends here.
    relay.endEventLoop(0);
    endProcess(0);
}

void UpdateSession::startCheck()
{
    checkStarted = QDateTime::currentDateTimeUtc();
    const UpdateInfoRecord record = clientRecord(setup);
    agent->Update(record.mode, record.client);
}

void UpdateSession::endProcess(int status)
{
    processEnd(status);
}

void UpdateSession::HaveNewVersion()
{
    // The answer is in: the watchdog stands down; the notice or the end follows.
    phase = Phase::Notice;
    const CheckOutcome outcome =
        judgeCheckAnswer(setup.BASE_PATH, parser, identityOf(setup),
                         StagesClock{QDateTime::currentSecsSinceEpoch(), early});
    recordCheck(setup.BASE_PATH, outcome, checkStarted);
    if (outcome.result == Result::Refused && outcome.reason != Reason::KnownBad &&
        outcome.reason != Reason::NotNewer) {
        endCheck(outcome, refusalText(outcome));
        return;
    }
    if (outcome.result == Result::HeldBack) {
        endCheck(outcome, QT_TRANSLATE_NOOP("CMUpdater", "No new version, updater will exit"));
        return;
    }
    dispatcher.descriptionAccepted(outcome.keyId, outcome.early);
    qWarning("%s", parser.flag.toLocal8Bit().constData());

    const int flag = parser.flag.toInt(); // text that is no number counts as 0
    if (flag == 0) {
        endCheck(outcome, QT_TRANSLATE_NOOP("CMUpdater", "Check version failed,updater will exit"));
    } else if (flag >= 1 && flag <= 3) {
        endCheck(outcome, QT_TRANSLATE_NOOP("CMUpdater", "No new version, updater will exit"));
    } else {
        softwareDownload.choose(setup.BASE_PATH, parser.doc, parser.software);
        firmwareDownload.choose(setup.BASE_PATH, parser.doc, parser.firmware);
        relay.checkAnswered({outcome, nullptr});
    }
}

const char* UpdateSession::refusalText(const CheckOutcome& outcome)
{
    if (!fromFolder || outcome.reason != Reason::Expired)
        return QT_TRANSLATE_NOOP("CMUpdater", "Check version failed,updater will exit");
    // Said as a run's line too: a command line shows those, not the notice.
    const char* tooOld =
        QT_TRANSLATE_NOOP("CMUpdater", "The update in this folder is too old: it has expired.");
    relay.appendLine(tooOld);
    return tooOld;
}

// The check ended without a new version; the pause keeps to the agreed end of a check.
void UpdateSession::endCheck(const CheckOutcome& outcome, const char* text)
{
    agent->RunEnded();
    reports.start(checkReport(outcome));
    relay.checkAnswered({outcome, text, fromFolder});
    phase = Phase::Done;
    sleepOnThisThread(timing.checkEndPause);
    reports.finish();
    relay.endEventLoop(0);
    endProcess(0);
}

std::optional<ReportedRun> UpdateSession::checkReport(const CheckOutcome& outcome) const
{
    if (!reported(outcome.result))
        return std::nullopt;
    return ReportedRun{setup.DEVICE, versions(setup.SOFTWARE_VERSION, setup.FIRMWARE_VERSION),
                       QStringLiteral("-"), outcome.result, outcome.reason};
}

std::optional<ReportedRun> UpdateSession::runReport(const HistoryRecord& record) const
{
    if (!reported(record.result))
        return std::nullopt;
    const QString software = record.software ? record.software->to : setup.SOFTWARE_VERSION;
    const QString firmware = record.firmware ? record.firmware->to : setup.FIRMWARE_VERSION;
    return ReportedRun{setup.DEVICE, versions(setup.SOFTWARE_VERSION, setup.FIRMWARE_VERSION),
                       versions(software, firmware), record.result, record.reason};
}

void UpdateSession::ManualUpdateState(int state)
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

QList<Offer> UpdateSession::offers() const
{
    QList<Offer> found;
    const auto add = [&found](const char* kind, const QString& installed,
                              const PackageDownload& download, const PackageInfo& package) {
        if (!package.filename.isEmpty())
            found.append({kind, installed, download.package(package),
                          download.usesDelta() ? Download::Delta : Download::Full});
    };
    add("software", setup.SOFTWARE_VERSION, softwareDownload, parser.software);
    add("firmware", setup.FIRMWARE_VERSION, firmwareDownload, parser.firmware);
    return found;
}

PackageInfo UpdateSession::softwarePackage() const
{
    return softwareDownload.package(parser.software);
}

PackageInfo UpdateSession::firmwarePackage() const
{
    return firmwareDownload.package(parser.firmware);
}

DownloadUsed UpdateSession::softwareDownloadUsed() const
{
    return softwareDownload.used(parser.software);
}

bool UpdateSession::firstRowIsFirmware() const
{
    return parser.packageCount == 1 && !offered(parser.software) && offered(parser.firmware);
}

SelectedModule UpdateSession::choiceFromRows(bool first, bool second) const
{
    first = first && parser.packageCount > 0;
    second = second && parser.packageCount > 1;
    const bool softwareFile = !parser.software.filename.isEmpty();
    const bool firmwareFile = !parser.firmware.filename.isEmpty();
    if (first && second) {
        if (softwareFile && firmwareFile)
            return SELECTED_BOTH;
        // The agent refuses a whole selection with an entry it cannot fetch, so
        // a package without a file name counts as not ticked.
        first = softwareFile;
        second = firmwareFile;
    }
    if (first && softwareFile)
        return SELECTED_SOFTWARE;
    if ((first || second) && firmwareFile)
        return SELECTED_FIRMWARE;
    if (first || second)
        return selectedModule;
    return SELECTED_NONE;
}

void UpdateSession::choose(SelectedModule module)
{
    selectedModule = module;
    if (includesSoftware(module))
        backupPrivateData = relay.keepPrivateData();
    createSelectxml(module);
    relay.markStep(UpdateStep::Download);
    phase = Phase::Downloading;
    agent->Download();
}

void UpdateSession::cancel()
{
    phase = Phase::Done;
    agent->RunEnded();
    dispatcher.cancelled();
}

void UpdateSession::stopDownload()
{
    if (phase == Phase::Downloading && !downloadStopped.exchange(true))
        agent->StopDownload();
}

void UpdateSession::forgetAnswer() const
{
    for (const char* name : {"/Description.xml", "/Description.xml.sig", "/Description.xml.failed"})
        QFile::remove(setup.path(name));
}

void UpdateSession::createSelectxml(SelectedModule module)
{
    writeSelectionFile(setup.BASE_PATH, parser, module, softwarePackage(), firmwarePackage());
}

void UpdateSession::startMeter(const QString& filename, const PackageInfo& package)
{
    const QFileInfo part(setup.BASE_PATH + '/' + filename + QLatin1String(".part"));
    meter.start(filename, package.size.toLongLong(), part.isFile() ? part.size() : 0);
}

void UpdateSession::DownloadProcess(QString filename, int percent)
{
    const PackageInfo software = softwarePackage();
    const bool isSoftware = filename == software.filename;
    if (!isSoftware && filename != firmwarePackage().filename)
        return;
    if (meter.file() != filename)
        startMeter(filename, isSoftware ? software : parser.firmware);
    const int resumed = meter.resumedAt(percent);
    // A package that falls back from its delta is a new download: its lines are told again.
    const PackageDownload& download = isSoftware ? softwareDownload : firmwareDownload;
    const QString scope = QLatin1String(isSoftware ? "software" : "firmware") +
                          QLatin1String(download.usesDelta() ? " delta" : "");
    relay.setProgress(percent, meter.text(percent));
    if (percent == 0)
        relay.appendLineOnce(
            isSoftware ? QT_TRANSLATE_NOOP("CMUpdater", "Downloading software packages...")
                       : QT_TRANSLATE_NOOP("CMUpdater", "Downloading firmware packages..."),
            scope);
    if (resumed > 0)
        relay.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Resuming at %1 %..."),
                         {QString::number(resumed)});
    if (percent == 100) {
        relay.appendLineOnce(QT_TRANSLATE_NOOP("CMUpdater", "Download succeed"), scope);
        noteOrigin(filename, isSoftware);
    }
}

void UpdateSession::noteOrigin(const QString& filename, bool isSoftware)
{
    if (fromFolder)
        return;
    QString& source = isSoftware ? softwareSource : firmwareSource;
    source = servingMirror(setup.BASE_PATH, filename, parser.doc);
    if (!source.isEmpty())
        relay.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Downloaded from the mirror %1"), {source});
}

void UpdateSession::downloadAgain(SelectedModule again)
{
    createSelectxml(again);
    const qint64 bytes = (includesSoftware(again) ? parser.software.size.toLongLong() : 0) +
                         (includesFirmware(again) ? parser.firmware.size.toLongLong() : 0);
    relay.appendLine(QT_TRANSLATE_NOOP("CMUpdater",
                                       "The update does not fit this installation; downloading "
                                       "the full package (%1 KB)..."),
                     {QString::number(bytes / 1024)});
    phase = Phase::Downloading;
    agent->Download();
}

void UpdateSession::DownloadFinished(bool ok)
{
    // The download is over: Escape stops nothing from here on.
    phase = Phase::Installing;
    DownloadOutcome outcome =
        downloadStopped ? DownloadOutcome::Cancelled : DownloadOutcome::Failed;
    if (ok) {
        const std::optional<DownloadOutcome> finished = completion.finish(selectedModule);
        if (!finished)
            return; // the full package of a delta that did not fit is on its way
        outcome = *finished;
    }
    // Before the run's end lets the process go: the packages are handed over.
    agent->RunEnded();
    dispatcher.downloadFinished(choice(outcome));
    phase = Phase::Done;
}

UpdateChoice UpdateSession::choice(DownloadOutcome outcome) const
{
    return UpdateChoice{selectedModule,
                        backupPrivateData,
                        parser.device,
                        softwarePackage().filename,
                        firmwarePackage().filename,
                        parser.software.version,
                        parser.firmware.version,
                        outcome,
                        softwareDownloadUsed().delta,
                        packageDigest(parser.doc, parser.software),
                        firmwareDownload.usesDelta(),
                        packageDigest(parser.doc, parser.firmware),
                        softwareSource,
                        firmwareSource};
}

bool UpdateSession::updateSW()
{
    return dispatcher.updateSW(parser.software.filename, backupPrivateData);
}

bool UpdateSession::updateFW()
{
    return firmwareStep.flash(parser.firmware.filename, firmwareDownload.rebuilt());
}

int UpdateSession::getPDLData(_PDLData* data)
{
    return firmwareStep.report(*data);
}
