#pragma once

#include <cstdlib>
#include <string>
#include <sys/fsuid.h>
#include <unistd.h>

// While it lives, files are reached with the caller's file-system ids: root
// never opens or looks up a path on the caller's behalf (a FIFO, a device, a
// directory the caller cannot enter). Unchanged for a caller that is root.
class AsCaller final {
public:
    AsCaller()
    {
        ::setfsgid(::getgid());
        ::setfsuid(::getuid());
        // setfsuid reports the id in force before the call, whatever happened.
        entered = int(::setfsuid(uid_t(-1))) == int(::getuid()) &&
                  int(::setfsgid(gid_t(-1))) == int(::getgid());
    }
    ~AsCaller()
    {
        ::setfsuid(::geteuid());
        ::setfsgid(::getegid());
    }
    AsCaller(const AsCaller&) = delete;
    AsCaller& operator=(const AsCaller&) = delete;

    bool ok() const { return entered; }

private:
    bool entered = false;
};

// path with every link resolved as the caller would resolve it; empty when
// the caller cannot reach it.
inline std::string resolvedAsCaller(const std::string& path)
{
    const AsCaller caller;
    char* resolved = caller.ok() ? ::realpath(path.c_str(), nullptr) : nullptr;
    const std::string result = resolved != nullptr ? resolved : "";
    std::free(resolved);
    return result;
}
