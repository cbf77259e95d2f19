#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "faults.h"
#include "modem.h"
#include "options.h"
#include "pty.h"
#include "session.h"
#include "store.h"

namespace {

constexpr int kExitComplete = 0;
constexpr int kExitSetup = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIncomplete = 3;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

// The ending signals are held back outside the session's waits, so none is
// missed between a check of the flag and the next wait; returns the waits' mask.
sigset_t catchEndingSignals()
{
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigset_t ending;
    sigemptyset(&ending);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
        sigaddset(&ending, signal);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &ending, &waitMask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigdelset(&waitMask, signal);
    return waitMask;
}

bool publishLink(const std::string& link, const std::string& target)
{
    struct stat existing {};
    if (lstat(link.c_str(), &existing) == 0) {
        // Only a stale link of an earlier run is replaced.
        if (!S_ISLNK(existing.st_mode) || unlink(link.c_str()) != 0) {
            errno = EEXIST;
            return false;
        }
    }
    return symlink(target.c_str(), link.c_str()) == 0;
}

void withdrawLink(const std::string& link, const std::string& target)
{
    char pointee[PATH_MAX];
    const ssize_t length = readlink(link.c_str(), pointee, sizeof pointee);
    if (length >= 0 && std::string(pointee, static_cast<std::size_t>(length)) == target)
        unlink(link.c_str());
}

const char* describe(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Complete:
        return "flash committed";
    case Outcome::HungUp:
        return "flasher closed the line early";
    case Outcome::Idle:
        return "idle time-out";
    case Outcome::Stopped:
        return "stopped by a signal";
    case Outcome::Severed:
        return "hung up as planned";
    case Outcome::Failed:
        break;
    }
    return "terminal failed";
}

int exitStatus(Outcome outcome)
{
    if (outcome == Outcome::Complete)
        return kExitComplete;
    return outcome == Outcome::Failed ? kExitSetup : kExitIncomplete;
}

int fail(const char* what, const std::string& name)
{
    std::fprintf(stderr, "modem-sim: %s %s: %s\n", what, name.c_str(), std::strerror(errno));
    return kExitSetup;
}

int serve(const Options& options)
{
    const sigset_t waitMask = catchEndingSignals();
    ImageStore store;
    if (!store.open(options.outDir))
        return fail("cannot open", options.outDir);
    PseudoTerminal terminal;
    if (!terminal.open())
        return fail("cannot open", "a pseudo-terminal");
    if (!options.link.empty() && !publishLink(options.link, terminal.slavePath()))
        return fail("cannot create the link", options.link);
    std::printf("%s\n", terminal.slavePath().c_str());
    std::fflush(stdout);

    Modem modem(store);
    FaultInjector faults(options.fault);
    SessionConfig config;
    config.idleTimeout = options.idleTimeout;
    config.verbose = options.verbose;
    const Outcome outcome =
        Session(terminal.master(), modem, faults, config).run(stopRequested, waitMask);
    if (!options.link.empty())
        withdrawLink(options.link, terminal.slavePath());
    std::fprintf(stderr, "modem-sim: %s, %zu files committed\n", describe(outcome),
                 store.filesStored());
    return exitStatus(outcome);
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options = parseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "modem-sim: %s\nTry 'modem-sim --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (options->help) {
        std::fputs(usage().c_str(), stdout);
        return kExitComplete;
    }
    return serve(*options);
}
