#include "app/checkcommand.h"

#include "app/consoleface.h"
#include "app/startup.h"
#include "base/processend.h"
#include "history/updatehistory.h"
#include "packages/packagesize.h"
#include "session/updatesession.h"
#include "trust/utctime.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int upToDateStatus = 0;
constexpr int offeredStatus = 100;
constexpr int failedStatus = 1;

void printText(const CheckOutcome& outcome, const QList<Offer>& offered)
{
    if (outcome.result == Result::UpToDate)
        std::printf("up to date\n");
    else if (outcome.heldBack)
        std::printf("%s\n", qPrintable(heldBackText(*outcome.heldBack)));
    else if (outcome.result != Result::Offered)
        std::printf("%s: %s\n", word(outcome.result), word(outcome.reason));
    for (const Offer& offer : offered)
        std::printf("%s %s -> %s, %s KB, %s\n", offer.kind, qPrintable(offer.from),
                    qPrintable(offer.package.version),
                    qPrintable(sizeInKilobytes(offer.package.size)), word(offer.download));
}

// Where a release in stages stands for this computer: the share whose step
// reaches it and when that step begins (null when none does).
void addHeldBack(QJsonObject& document, const std::optional<HeldBack>& held)
{
    document.insert("held_back", held.has_value());
    if (!held)
        return;
    document.insert("release", held->release);
    document.insert("paused", held->paused);
    document.insert("share", held->percent ? QJsonValue(*held->percent) : QJsonValue());
    document.insert("expected", held->from
                                    ? QJsonValue(formatUtcTime(held->from->toSecsSinceEpoch()))
                                    : QJsonValue());
}

void printJson(const CheckOutcome& outcome, const QList<Offer>& offered)
{
    QJsonArray packages;
    for (const Offer& offer : offered)
        packages.append(QJsonObject{{"kind", offer.kind},
                                    {"from", offer.from},
                                    {"to", offer.package.version},
                                    {"bytes", offer.package.size.toLongLong()},
                                    {"download", word(offer.download)}});
    QJsonObject document{
        {"result", word(outcome.result)}, {"reason", word(outcome.reason)}, {"packages", packages}};
    addHeldBack(document, outcome.heldBack);
    std::printf(
        "%s\n",
        escapedJson(QJsonDocument(document).toJson(QJsonDocument::Indented)).trimmed().constData());
}

// The check as the window makes it, without its pause at the end.
CheckOutcome askAgent(UpdateSession& session, QList<Offer>& offered)
{
    ConsoleFace face(false);
    runOnCommandLine(session, face);
    const CheckOutcome outcome =
        face.answer().value_or(CheckReport{{Result::CheckFailed, Reason::NoAnswer}}).outcome;
    if (outcome.result == Result::Offered)
        offered = session.offers();
    return outcome;
}

int statusOf(const CheckOutcome& outcome)
{
    if (outcome.result == Result::UpToDate || outcome.result == Result::HeldBack)
        return upToDateStatus;
    return outcome.result == Result::Offered ? offeredStatus : failedStatus;
}

} // namespace

int runCheckCommand(int argc, char** argv)
{
    const bool json = argc > 2 && std::strcmp(argv[2], "--json") == 0;
    if (argc > (json ? 3 : 2)) {
        std::fprintf(stderr, "usage: cmupdater --check [--json]\n");
        return 2;
    }
    const QCoreApplication core(argc, argv);
    if (already_running() != 0) {
        std::fprintf(stderr, "cmupdater --check: another updater is running\n");
        return failedStatus;
    }
    const std::optional<Installation> installation = loadOwnInstallation("cmupdater --check");
    if (!installation)
        return failedStatus;
    CheckOutcome outcome{Result::CheckFailed, Reason::IncompleteIdentity};
    QList<Offer> offered;
    std::unique_ptr<UpdateSession> session;
    if (installation->identityComplete()) {
        session = std::make_unique<UpdateSession>(*installation);
        outcome = askAgent(*session, offered);
        session->finishReports();
        // The answer is the check's alone: the next run asks again.
        session->forgetAnswer();
    } else {
        recordCheck(installation->BASE_PATH, outcome, QDateTime::currentDateTimeUtc());
    }
    json ? printJson(outcome, offered) : printText(outcome, offered);
    // The agent's thread may still be in a callback: the process ends before the session goes.
    terminateProcess(statusOf(outcome));
}
