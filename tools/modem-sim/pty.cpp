#include "pty.h"

#include <array>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Raw from the start: whatever the slave's user does, no byte is echoed,
// translated or taken as a control character.
bool makeRaw(int fd)
{
    termios mode{};
    if (tcgetattr(fd, &mode) != 0)
        return false;
    cfmakeraw(&mode);
    return tcsetattr(fd, TCSANOW, &mode) == 0;
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open()
{
    close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return false;
    std::array<char, 128> name{};
    const bool ready = grantpt(master_) == 0 && unlockpt(master_) == 0 &&
                       ptsname_r(master_, name.data(), name.size()) == 0 && makeRaw(master_) &&
                       fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) == 0;
    if (!ready) {
        close();
        return false;
    }
    slavePath_ = name.data();
    return true;
}

void PseudoTerminal::close()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
    slavePath_.clear();
}
