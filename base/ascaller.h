#pragma once

#include <sys/types.h>

#include <string>

// The user and group ids of whoever started the updater, kept from before it
// took root's in full: what the caller names is opened with these.
struct CallerIds {
    uid_t uid = 0;
    gid_t gid = 0;
};

// While it lives, files are reached on this thread with the caller's
// file-system ids: root never opens or looks up a path on the caller's behalf
// (a FIFO, a device, a directory the caller cannot enter). Unchanged for a
// caller that is root.
class AsCaller final {
public:
    explicit AsCaller(CallerIds caller);
    ~AsCaller();
    AsCaller(const AsCaller&) = delete;
    AsCaller& operator=(const AsCaller&) = delete;

    bool ok() const { return entered; }

private:
    bool entered = false;
};

// path with every link resolved as the caller would resolve it; empty when
// the caller cannot reach it.
std::string resolvedAsCaller(CallerIds caller, const std::string& path);
