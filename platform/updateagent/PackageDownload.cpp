#include "PackageDownload.h"

#include "Diagnostics.h"
#include "PackageSource.h"
#include "PartialFileSink.h"
#include "ProgressReporter.h"
#include "RetryPolicy.h"
#include "Selection.h"
#include "Transfer.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

namespace updateagent {

namespace {

// A stop during a pause between tries ends it this soon.
constexpr std::chrono::milliseconds StopPoll{50};

enum class Outcome { Succeeded, Failed, Stopped, Refused, Ended };

// The package's own address first, then its mirrors in the selection's order.
struct PackagePlan {
    QString fileName;
    std::vector<PackageOrigin> origins;
    Expectation expectation;
};

// Beside a package that a mirror served: the mirror's position in the
// selection's list, so that the updater can name it.
const QLatin1StringView MirrorMarkSuffix(".source");

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

std::optional<PackagePlan> planFor(const UpdateFileEntry& entry, const Selection& selection,
                                   const std::string& protocols)
{
    if (!isPlainFileName(entry.fileName)) {
        warn(QStringLiteral("refused file name \"%1\"").arg(entry.fileName));
        return std::nullopt;
    }
    std::optional<TransferRequest> source = packageSource(entry, selection.server);
    const std::optional<Expectation> expectation = expectationOf(entry);
    if (!source || !expectation) {
        warn(QStringLiteral("no usable source, size or MD5 for %1").arg(entry.fileName));
        return std::nullopt;
    }
    source->protocols = protocols;
    PackagePlan plan{entry.fileName, {PackageOrigin{*source, 0}}, *expectation};
    for (PackageOrigin& mirror : mirrorSources(selection.mirrors, entry.fileName))
        plan.origins.push_back(std::move(mirror));
    return plan;
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
        std::optional<PackagePlan> plan = planFor(entry, *selection, protocols);
        if (!plan)
            return std::nullopt;
        plans.push_back(std::move(*plan));
    }
    return plans;
}

// What a failed try means for the origin that served it.
enum class AfterFailure {
    TryAgain, // the origin may serve the package on a later try
    Leave,    // the origin cannot serve the package: it is not tried again
    GiveUp,   // no origin can help: the package fails
};

// Failures of the link or the server pass; a file that turned out wrong does not,
// and its part goes so that the next try starts clean. Bytes joined from two
// tries prove nothing against either origin when they are wrong together.
AfterFailure afterFailure(const TransferResult& result, PartialFileSink& sink, bool joined)
{
    switch (sink.check().verdict()) {
    case ContentCheck::Verdict::Complete:
        if (result.rangeRefused)
            sink.discard();
        return result.transient ? AfterFailure::TryAgain : AfterFailure::Leave;
    case ContentCheck::Verdict::Incomplete:
        return result.status == TransferResult::Status::Completed || result.transient
                   ? AfterFailure::TryAgain
                   : AfterFailure::Leave;
    case ContentCheck::Verdict::ChangedAtSource:
        sink.discard();
        return AfterFailure::TryAgain;
    case ContentCheck::Verdict::CannotWrite:
        return AfterFailure::GiveUp;
    case ContentCheck::Verdict::TooLarge:
    case ContentCheck::Verdict::SizeMismatch:
    case ContentCheck::Verdict::Md5Mismatch:
        sink.discard();
        return joined ? AfterFailure::TryAgain : AfterFailure::Leave;
    }
    return AfterFailure::GiveUp;
}

// Where the updater finds which mirror served the package: nothing when its
// own address did.
bool markOrigin(const QString& target, const PackageOrigin& origin)
{
    const QString mark = target + MirrorMarkSuffix;
    if (origin.mirror == 0)
        return !QFile::exists(mark) || QFile::remove(mark);
    QSaveFile file(mark);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray::number(origin.mirror)) > 0 &&
           file.commit();
}

// The address as the log shows it: without the user name and password.
QString shownAddress(const PackageOrigin& origin)
{
    return QUrl(QString::fromStdString(origin.request.url)).toDisplayString(QUrl::RemoveUserInfo);
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
    Outcome fetchInto(const PackagePlan& plan, const QString& target, PartialFileSink& sink);
    TransferResult tryOnce(const PackageOrigin& origin, PartialFileSink& sink);
    // After a round of every origin: the end when the retries are used up or
    // the download is stopped during the pause, nothing to go on.
    std::optional<Outcome> pauseAfterRound(const QString& fileName, RetrySchedule& retries,
                                           const TransferResult& result, bool progressed,
                                           const QString& reason, const PartialFileSink& sink);
    bool pauseUnlessStopped(std::chrono::milliseconds pause) const;
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
    QFile::remove(target + MirrorMarkSuffix);
    ProgressReporter progress(
        [this, &plan](int percent) { reportProgress(plan.fileName, percent); });
    PartialFileSink sink(target, plan.expectation, progress);
    progress.start();
    sink.takeUpEarlierPart();
    const Outcome outcome = fetchInto(plan, target, sink);
    if (outcome == Outcome::Succeeded)
        progress.finish();
    return outcome;
}

// Every failed try moves on to the next origin at once; the pauses of the
// retry schedule come between rounds.
Outcome PackageFetch::fetchInto(const PackagePlan& plan, const QString& target,
                                PartialFileSink& sink)
{
    RetrySchedule retries(settings_.retry);
    OriginTurns turns(plan.origins.size());
    qint64 arrivedBeforeRound = sink.arrived();
    for (;;) {
        const PackageOrigin& origin = plan.origins[turns.current()];
        const bool joined = sink.check().received() > 0;
        const TransferResult result = tryOnce(origin, sink);
        if (result.status == TransferResult::Status::Cancelled)
            return outcomeOf(stopReason_());
        if (result.status == TransferResult::Status::Completed && sink.finish()) {
            if (!markOrigin(target, origin))
                warn(QStringLiteral("cannot note the mirror that served %1").arg(plan.fileName));
            return Outcome::Succeeded;
        }
        const QString reason = sink.check().failureReason(result);
        const AfterFailure after = afterFailure(result, sink, joined);
        if (after == AfterFailure::Leave)
            turns.dropCurrent();
        if (after == AfterFailure::GiveUp || !turns.advance()) {
            warn(QStringLiteral("download of %1 failed: %2").arg(plan.fileName, reason));
            return Outcome::Failed;
        }
        if (!turns.roundEnded()) {
            warn(QStringLiteral("download of %1 from %2 failed (%3); trying %4")
                     .arg(plan.fileName, shownAddress(origin), reason,
                          shownAddress(plan.origins[turns.current()])));
            continue;
        }
        const bool progressed = sink.arrived() > arrivedBeforeRound;
        arrivedBeforeRound = sink.arrived();
        if (const std::optional<Outcome> end =
                pauseAfterRound(plan.fileName, retries, result, progressed, reason, sink))
            return *end;
    }
}

std::optional<Outcome> PackageFetch::pauseAfterRound(const QString& fileName,
                                                     RetrySchedule& retries,
                                                     const TransferResult& result, bool progressed,
                                                     const QString& reason,
                                                     const PartialFileSink& sink)
{
    const std::optional<std::chrono::milliseconds> pause =
        retries.next(progressed, result.retryAfter, RetrySchedule::Clock::now());
    if (!pause) {
        warn(QStringLiteral("download of %1 given up: %2").arg(fileName, reason));
        return Outcome::Failed;
    }
    warn(QStringLiteral("download of %1 interrupted at byte %2 (%3); trying again in %4 ms")
             .arg(fileName)
             .arg(sink.check().received())
             .arg(reason)
             .arg(pause->count()));
    if (!pauseUnlessStopped(*pause))
        return outcomeOf(stopReason_());
    return std::nullopt;
}

TransferResult PackageFetch::tryOnce(const PackageOrigin& origin, PartialFileSink& sink)
{
    if (sink.hasAllBytes())
        return TransferResult::ended(TransferResult::Status::Completed);
    return transfer(
        origin.request, settings_.limits, sink,
        [this] { return stopReason_() != StopReason::None; }, sink.resumePoint());
}

bool PackageFetch::pauseUnlessStopped(std::chrono::milliseconds pause) const
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + pause;
    while (stopReason_() == StopReason::None) {
        const Clock::duration left = end - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, StopPoll));
    }
    return false;
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
