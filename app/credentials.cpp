#include "app/credentials.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <unistd.h>

namespace {

bool allRoot()
{
    uid_t real = 0, effective = 0, saved = 0;
    gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
    return ::getresuid(&real, &effective, &saved) == 0 &&
           ::getresgid(&realGroup, &effectiveGroup, &savedGroup) == 0 &&
           (real | effective | saved | realGroup | effectiveGroup | savedGroup) == 0;
}

} // namespace

void settleCredentials()
{
    // Root started by root has nothing to settle; a caller that is not root
    // gains nothing here.
    if (::geteuid() != 0 || allRoot())
        return;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(0, 0, 0) != 0 || ::setresuid(0, 0, 0) != 0) {
        std::fprintf(stderr, "cmupdater: cannot take root's user and group ids: %s\n",
                     std::strerror(errno));
        std::exit(1);
    }
}
