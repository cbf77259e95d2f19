#include "base/ascaller.h"

#include <cstdlib>
#include <sys/fsuid.h>
#include <unistd.h>

AsCaller::AsCaller(CallerIds caller)
{
    ::setfsgid(caller.gid);
    ::setfsuid(caller.uid);
    // setfsuid reports the id in force before the call, whatever happened.
    entered =
        uid_t(::setfsuid(uid_t(-1))) == caller.uid && gid_t(::setfsgid(gid_t(-1))) == caller.gid;
}

AsCaller::~AsCaller()
{
    ::setfsuid(::geteuid());
    ::setfsgid(::getegid());
}

std::string resolvedAsCaller(CallerIds caller, const std::string& path)
{
    const AsCaller as(caller);
    char* resolved = as.ok() ? ::realpath(path.c_str(), nullptr) : nullptr;
    const std::string result = resolved != nullptr ? resolved : "";
    std::free(resolved);
    return result;
}
