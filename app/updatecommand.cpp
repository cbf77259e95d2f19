#include "app/updatecommand.h"

#include "app/consoleface.h"
#include "app/fromfolder.h"
#include "app/startup.h"
#include "base/processend.h"
#include "packages/packagesize.h"
#include "session/updatesession.h"
#include "software/connectionmanager.h"
#include "software/recovery.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int installedStatus = 0;
constexpr int failedStatus = 1;
constexpr int usageStatus = 2;
constexpr int rolledBackStatus = 4;

struct UpdateOptions {
    bool software = true;
    bool firmware = true;
    bool privateData = true;
    bool early = false;
    std::optional<FolderOrigin> folder{};
};

std::optional<UpdateOptions> parseOptions(int argc, char** argv)
{
    UpdateOptions options;
    bool restricted = false;
    for (int i = 2; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--no-private-data") == 0) {
            options.privateData = false;
        } else if (std::strcmp(option, "--early") == 0) {
            options.early = true;
        } else if (std::strcmp(option, "--from") == 0 && !options.folder) {
            options.folder = callersFolder(argc, argv, ++i);
            if (!options.folder)
                return std::nullopt;
        } else if (!restricted && std::strcmp(option, "--software-only") == 0) {
            options.firmware = false;
            restricted = true;
        } else if (!restricted && std::strcmp(option, "--firmware-only") == 0) {
            options.software = false;
            restricted = true;
        } else {
            return std::nullopt;
        }
    }
    return options;
}

// What --check would offer, within the options, answered without a user.
class UpdateFace final : public ConsoleFace {
public:
    UpdateFace(UpdateSession& session, const UpdateOptions& options)
        : ConsoleFace(true), session(session), options(options)
    {
    }

    void checkAnswered(const CheckReport& report) override;
    bool keepPrivateData() override { return options.privateData; }
    // Set when the check ends the run: its status, not the install's.
    std::atomic<int> checkStatus{-1};

private:
    SelectedModule chosen(const QList<Offer>& offers);

    UpdateSession& session;
    UpdateOptions options;
};

SelectedModule UpdateFace::chosen(const QList<Offer>& offers)
{
    bool software = false;
    bool firmware = false;
    for (const Offer& offer : offers) {
        const bool isSoftware = std::strcmp(offer.kind, "software") == 0;
        if (!(isSoftware ? options.software : options.firmware))
            continue;
        printLine(QStringLiteral("%1 %2 -> %3, %4 KB, %5")
                      .arg(QLatin1String(offer.kind), offer.from, offer.package.version,
                           sizeInKilobytes(offer.package.size),
                           QLatin1String(word(offer.download))));
        (isSoftware ? software : firmware) = true;
    }
    return moduleOf(software, firmware);
}

void UpdateFace::checkAnswered(const CheckReport& report)
{
    keep(report);
    const CheckOutcome& outcome = report.outcome;
    if (outcome.heldBack)
        printLine(heldBackText(*outcome.heldBack));
    if (outcome.result != Result::Offered) {
        const bool nothingNew =
            outcome.result == Result::UpToDate || outcome.result == Result::HeldBack ||
            outcome.reason == Reason::KnownBad || outcome.reason == Reason::NotNewer;
        printLine(
            outcome.result == Result::UpToDate || outcome.result == Result::HeldBack
                ? QStringLiteral("nothing offered: %1").arg(QLatin1String(word(outcome.result)))
                : QStringLiteral("%1: %2").arg(
                      QLatin1String(nothingNew ? "nothing offered" : word(outcome.result)),
                      QLatin1String(word(outcome.reason))));
        checkStatus = nothingNew ? installedStatus : failedStatus;
        return;
    }
    const SelectedModule module = chosen(session.offers());
    if (module == SELECTED_NONE) {
        printLine(QStringLiteral("nothing offered: no %1 package")
                      .arg(QLatin1String(options.software ? "software" : "firmware")));
        checkStatus = installedStatus;
        quit(checkStatus);
        return;
    }
    // From the command's own thread, as the window's choice comes from its own.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this, module] { session.choose(module); },
        Qt::QueuedConnection);
}

int runStatus(Result result)
{
    switch (result) {
    case Result::Installed:
        return installedStatus;
    case Result::RolledBack:
        return rolledBackStatus;
    default:
        return failedStatus;
    }
}

int update(const Installation& installation, const UpdateOptions& options)
{
    ConnectionManager manager(installation.BASE_PATH, installation.CM_NAME, installation.WVDIAL);
    if (const RecoveryOutcome outcome = recoverInterruptedInstall(
            installation.BASE_PATH, installation.CM_NAME, manager, false, installation.HOOK_TIME))
        std::printf("%s\n", recoveryText(outcome));
    if (!installation.identityComplete()) {
        std::printf("check failed: %s\n", word(Reason::IncompleteIdentity));
        recordCheck(installation.BASE_PATH, {Result::CheckFailed, Reason::IncompleteIdentity},
                    QDateTime::currentDateTimeUtc());
        return failedStatus;
    }
    UpdateSession session(installation, options.folder);
    if (options.early)
        session.takeEarly();
    UpdateFace face(session, options);
    runOnCommandLine(session, face);
    const int checkStatus = face.checkStatus;
    const int status = checkStatus >= 0 ? checkStatus : runStatus(session.result());
    std::printf("cmupdater --update: %s\n",
                checkStatus >= 0 ? "nothing installed" : word(session.result()));
    session.finishReports();
    // The agent's thread may still be in a callback: the process ends before the session goes.
    terminateProcess(status);
}

} // namespace

int runUpdateCommand(int argc, char** argv)
{
    const std::optional<UpdateOptions> options = parseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: cmupdater --update [--software-only | --firmware-only] "
                             "[--no-private-data] [--early] [--from DIR]\n");
        return usageStatus;
    }
    if (::geteuid() != 0) {
        std::fprintf(stderr, "cmupdater --update: must be run as root, nothing installed\n");
        return usageStatus;
    }
    const QCoreApplication core(argc, argv);
    if (already_running() != 0) {
        std::fprintf(stderr, "cmupdater --update: another updater is running\n");
        return usageStatus;
    }
    const std::optional<Installation> installation = loadOwnInstallation("cmupdater --update");
    return installation ? update(*installation, *options) : failedStatus;
}
