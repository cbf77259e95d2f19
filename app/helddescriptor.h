#pragma once

#include <string>
#include <unistd.h>

// Keeps fd in slot, closing the descriptor slot held before: a second value of
// a variable in the environment replaces the first, as setenv does. Returns
// the path that names the held descriptor.
inline std::string holdDescriptor(int& slot, int fd)
{
    if (slot >= 0)
        ::close(slot);
    slot = fd;
    return "/proc/self/fd/" + std::to_string(fd);
}
