#include "app/credentials.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

CallerIds caller{::getuid(), ::getgid()};
QString startDirectory;

bool allRoot()
{
    uid_t real = 0, effective = 0, saved = 0;
    gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
    return ::getresuid(&real, &effective, &saved) == 0 &&
           ::getresgid(&realGroup, &effectiveGroup, &savedGroup) == 0 &&
           (real | effective | saved | realGroup | effectiveGroup | savedGroup) == 0;
}

struct Limit {
    int resource;
    rlim_t soft;
    rlim_t hard;
};

// What the kernel gives root's first process: nothing limited but the open
// files, which select() and the toolkit expect below 1024, and the stack,
// whose size also decides where the kernel lays out a child's memory.
constexpr Limit rootLimits[] = {
    {RLIMIT_FSIZE, RLIM_INFINITY, RLIM_INFINITY},   {RLIMIT_DATA, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_AS, RLIM_INFINITY, RLIM_INFINITY},      {RLIMIT_NOFILE, 1024, 4096},
    {RLIMIT_NPROC, RLIM_INFINITY, RLIM_INFINITY},   {RLIMIT_CPU, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_STACK, 8 * 1024 * 1024, RLIM_INFINITY},
};

bool resetLimits()
{
    for (const Limit& limit : rootLimits) {
        rlimit value{limit.soft, limit.hard};
        if (::setrlimit(limit.resource, &value) == 0)
            continue;
        // Root without CAP_SYS_RESOURCE (in some containers) cannot raise a
        // hard limit: the soft one goes as high as the hard one allows.
        if (::getrlimit(limit.resource, &value) != 0)
            return false;
        value.rlim_cur = std::min(limit.soft, value.rlim_max);
        if (::setrlimit(limit.resource, &value) != 0)
            return false;
    }
    return true;
}

// A handler does not survive exec, an ignored signal does: with SIGCHLD
// ignored system() loses its child's status, with SIGXFSZ ignored a write
// past a limit fails quietly, with SIGTERM blocked the hook's time limit
// stops nothing. Handlers installed before main (a sanitizer's) stay.
bool resetSignals()
{
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN)
            std::signal(signal, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    return ::sigprocmask(SIG_SETMASK, &none, nullptr) == 0;
}

bool closeDescriptors(std::vector<int> kept)
{
    std::sort(kept.begin(), kept.end());
    unsigned int next = STDERR_FILENO + 1;
    for (const int fd : kept) {
        if (fd < int(next))
            continue;
        if (fd > int(next) && ::close_range(next, unsigned(fd) - 1, 0) != 0)
            return false;
        next = unsigned(fd) + 1;
    }
    return ::close_range(next, ~0U, 0) == 0;
}

void refuse(const char* what)
{
    std::fprintf(stderr, "cmupdater: cannot %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

} // namespace

CallerIds startingCaller()
{
    return caller;
}

QString startingDirectory()
{
    return startDirectory;
}

void settleCredentials(const std::vector<int>& keptDescriptors)
{
    caller = {::getuid(), ::getgid()};
    if (char* directory = ::getcwd(nullptr, 0)) {
        startDirectory = QString::fromLocal8Bit(directory);
        std::free(directory);
    }
    // Root started by root has nothing to settle; a caller that is not root
    // gains nothing here.
    if (::geteuid() != 0 || allRoot())
        return;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(0, 0, 0) != 0 || ::setresuid(0, 0, 0) != 0)
        refuse("take root's user and group ids");
    // Nothing of the caller's process reaches what root does and starts:
    // a limit that stops a write half-way, a descriptor a child writes into,
    // a working directory where the hook's relative names land.
    if (!resetLimits())
        refuse("reset the resource limits");
    if (!resetSignals())
        refuse("reset the signals");
    if (::chdir("/") != 0)
        refuse("change to the root directory");
    if (!closeDescriptors(keptDescriptors))
        refuse("close the inherited descriptors");
}
