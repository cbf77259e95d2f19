#include "PackageDownload.h"

#include "Diagnostics.h"
#include "FileSink.h"
#include "PackageSource.h"
#include "ProgressReporter.h"
#include "Selection.h"
#include "Transfer.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>

#include <optional>
#include <vector>

namespace updateagent {

namespace {

enum class Outcome { Succeeded, Failed, Stopped, Refused, Ended };

struct PackagePlan {
    QString fileName;
    TransferRequest source;
    Expectation expectation;
};

Outcome outcomeOf(StopReason reason)
{
    switch (reason) {
    case StopReason::None:
        return Outcome::Succeeded;
    case StopReason::Stopped:
        return Outcome::Stopped;
    case StopReason::Refused:
        return Outcome::Refused;
    case StopReason::Ended:
        return Outcome::Ended;
    }
    return Outcome::Failed;
}

// Local files may be sources only where the configured server is local itself;
// otherwise a description from the network could have us copy any file we can read.
std::string packageProtocols(const std::string& serverUrl)
{
    const bool localServer = QUrl(QString::fromStdString(serverUrl)).scheme().toLower() == u"file";
    return localServer ? "http,https,ftp,file" : "http,https,ftp";
}

bool isMd5Text(const QString& text)
{
    static const QRegularExpression md5Hex(QStringLiteral("^[0-9A-Fa-f]{32}$"));
    return md5Hex.match(text).hasMatch();
}

// A size or MD5 that cannot be checked fails the entry before anything is fetched.
std::optional<Expectation> expectationOf(const UpdateFileEntry& entry)
{
    Expectation expectation;
    if (!entry.size.isEmpty()) {
        bool ok = false;
        const qint64 size = entry.size.toLongLong(&ok);
        if (!ok || size < 0)
            return std::nullopt;
        expectation.size = size;
    }
    if (!entry.md5.isEmpty() && !isMd5Text(entry.md5))
        return std::nullopt;
    expectation.md5 = entry.md5.toLower().toLatin1();
    return expectation;
}

std::optional<PackagePlan> planFor(const UpdateFileEntry& entry, const FtpServer& server,
                                   const std::string& protocols)
{
    if (!isPlainFileName(entry.fileName)) {
        warn(QStringLiteral("refused file name \"%1\"").arg(entry.fileName));
        return std::nullopt;
    }
    std::optional<TransferRequest> source = packageSource(entry, server);
    const std::optional<Expectation> expectation = expectationOf(entry);
    if (!source || !expectation) {
        warn(QStringLiteral("no usable source, size or MD5 for %1").arg(entry.fileName));
        return std::nullopt;
    }
    source->protocols = protocols;
    return PackagePlan{entry.fileName, *source, *expectation};
}

// Every entry is checked before the first byte is fetched, so a bad one leaves
// nothing behind at all.
std::optional<std::vector<PackagePlan>> planDownload(const AgentSettings& settings)
{
    const QString path = settings.installDir + QStringLiteral("/UserSelection.xml");
    const std::optional<Selection> selection = readSelection(path);
    if (!selection || selection->files.empty()) {
        warn(QStringLiteral("no usable selection in %1").arg(path));
        return std::nullopt;
    }
    const std::string protocols = packageProtocols(settings.serverUrl);
    std::vector<PackagePlan> plans;
    for (const UpdateFileEntry& entry : selection->files) {
        std::optional<PackagePlan> plan = planFor(entry, selection->server, protocols);
        if (!plan)
            return std::nullopt;
        plans.push_back(std::move(*plan));
    }
    return plans;
}

class PackageFetch final {
public:
    PackageFetch(const AgentSettings& settings, CMUpdaterInterface& callbacks,
                 const std::function<StopReason()>& stopReason)
        : settings_(settings), callbacks_(callbacks), stopReason_(stopReason)
    {
    }

    Outcome fetch(const PackagePlan& plan);

private:
    void reportProgress(const QString& fileName, int percent);

    const AgentSettings& settings_;
    CMUpdaterInterface& callbacks_;
    const std::function<StopReason()>& stopReason_;
};

Outcome PackageFetch::fetch(const PackagePlan& plan)
{
    const QString target = settings_.installDir + QLatin1Char('/') + plan.fileName;
    // A package left by an earlier run must not pass for this one's if this one fails.
    QFile::remove(target);
    ProgressReporter progress(
        [this, &plan](int percent) { reportProgress(plan.fileName, percent); });
    FileSink sink(target, plan.expectation, &progress);
    if (!sink.open()) {
        warn(QStringLiteral("cannot write %1").arg(target));
        return Outcome::Failed;
    }
    progress.start();
    const TransferResult result = transfer(plan.source, settings_.limits, sink,
                                           [this] { return stopReason_() != StopReason::None; });
    if (result.status == TransferResult::Status::Cancelled)
        return outcomeOf(stopReason_());
    if (result.status == TransferResult::Status::Completed && sink.finish()) {
        progress.finish();
        return Outcome::Succeeded;
    }
    warn(
        QStringLiteral("download of %1 failed: %2").arg(plan.fileName, sink.failureReason(result)));
    return Outcome::Failed;
}

void PackageFetch::reportProgress(const QString& fileName, int percent)
{
    // The updater reads the name back as Latin-1.
    QByteArray name = fileName.toLatin1();
    callbacks_.DownloadProcess(name.data(), percent);
}

Outcome downloadAll(const AgentSettings& settings, CMUpdaterInterface& callbacks,
                    const std::function<StopReason()>& stopReason)
{
    const std::optional<std::vector<PackagePlan>> plans = planDownload(settings);
    if (!plans)
        return Outcome::Failed;
    PackageFetch fetcher(settings, callbacks, stopReason);
    for (const PackagePlan& plan : *plans) {
        if (const StopReason reason = stopReason(); reason != StopReason::None)
            return outcomeOf(reason);
        if (const Outcome outcome = fetcher.fetch(plan); outcome != Outcome::Succeeded)
            return outcome;
    }
    return Outcome::Succeeded;
}

void announce(Outcome outcome, CMUpdaterInterface& callbacks)
{
    switch (outcome) {
    case Outcome::Succeeded:
        callbacks.SetNowDownloadStatus(CHECKVERSION_STATE_DOWNLOADING_SUCCESS);
        break;
    case Outcome::Failed:
        callbacks.SetNowDownloadStatus(CHECKVERSION_STATE_DOWNLOADING_FAILED);
        break;
    case Outcome::Stopped:
        callbacks.SetNowDownloadStatus(CHECKVERSION_STATE_NO_DOWNLOADING);
        break;
    case Outcome::Refused:
        callbacks.SetNowDownloadStatus(CHECKVERSION_STATE_DOWNLOADING_REFUSE);
        break;
    case Outcome::Ended:
        return; // the host has let go of us; nobody is listening
    }
    callbacks.DownloadFinished(outcome == Outcome::Succeeded);
}

} // namespace

void runDownload(const AgentSettings& settings, CMUpdaterInterface& callbacks,
                 const std::function<StopReason()>& stopReason)
{
    callbacks.SetNowDownloadStatus(CHECKVERSION_STATE_DOWNLOADING);
    announce(downloadAll(settings, callbacks, stopReason), callbacks);
}

} // namespace updateagent
