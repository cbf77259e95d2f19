#include "app/cleanprocess.h"

#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr char fixedPath[] = "/usr/sbin:/usr/bin:/sbin:/bin";

// The language and the toolkit's platform plugin (the tests run offscreen)
// are names, never paths: glibc and Qt would load what a path names.
const char* const nameVariables[] = {"LANG", "LANGUAGE", "QT_QPA_PLATFORM"};

bool isNameVariable(const std::string& name)
{
    for (const char* kept : nameVariables) {
        if (name == kept)
            return true;
    }
    return name.rfind("LC_", 0) == 0;
}

// The modem line the serial library opens as root: only a terminal, never a
// device whose opening alone does something (a watchdog, a tape).
bool isTerminalDevice(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    const std::string device = resolved != nullptr ? resolved : "";
    std::free(resolved);
    struct stat info {};
    return (device.rfind("/dev/pts/", 0) == 0 || device.rfind("/dev/tty", 0) == 0) &&
           ::stat(device.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool isDigits(const std::string& value)
{
    return !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
}

// The display and its authority, the language and the platform plugin, and
// the modem line's settings; nothing that names a file to load.
bool isKept(const std::string& name, const std::string& value)
{
    if (name == "DISPLAY" || name == "XAUTHORITY")
        return true;
    if (name == "BKSERIAL_DEVICE")
        return isTerminalDevice(value);
    if (name == "LIB6246_ACK_TIMEOUT_MS")
        return isDigits(value);
    return isNameVariable(name) && value.find('/') == std::string::npos;
}

std::vector<std::pair<std::string, std::string>> keptVariables()
{
    std::vector<std::pair<std::string, std::string>> kept;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr)
            continue;
        std::string name(*entry, static_cast<size_t>(equals - *entry));
        std::string value(equals + 1);
        if (isKept(name, value))
            kept.emplace_back(std::move(name), std::move(value));
    }
    return kept;
}

// Root's own home, not the user's: whatever the toolkit caches lands there.
std::string effectiveHome()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
}

} // namespace

void cleanProcess()
{
    ::umask(022);
    const std::vector<std::pair<std::string, std::string>> kept = keptVariables();
    const std::string home = effectiveHome();
    ::clearenv();
    for (const auto& [name, value] : kept)
        ::setenv(name.c_str(), value.c_str(), 1);
    ::setenv("PATH", fixedPath, 1);
    ::setenv("HOME", home.c_str(), 1);
}
