#include "app/cleanprocess.h"

#include "app/helddescriptor.h"
#include "app/proxyvariables.h"
#include "app/sessionbus.h"
#include "base/ascaller.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <iterator>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr char fixedPath[] = "/usr/sbin:/usr/bin:/sbin:/bin";
// An X authority file is a few cookies; anything larger is not one.
constexpr ssize_t maxAuthorityBytes = 64 * 1024;

// The language is a name, never a path: glibc would load what a path names.
const char* const nameVariables[] = {"LANG", "LANGUAGE"};

// The toolkit's platform plugins that draw on the user's own screen or on
// none; others (vnc, a plugin path) would open the updater to anyone.
const char* const platformPlugins[] = {"xcb", "wayland", "offscreen"};

template <size_t N> bool isOneOf(const std::string& value, const char* const (&names)[N])
{
    return std::any_of(std::begin(names), std::end(names),
                       [&value](const char* name) { return value == name; });
}

bool isNameVariable(const std::string& name)
{
    return isOneOf(name, nameVariables) || name.rfind("LC_", 0) == 0;
}

bool isDigits(const std::string& value)
{
    return !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
}

// ":N" or ":N.M": a display of this machine, reached through its local socket.
bool isLocalDisplay(const std::string& value)
{
    const size_t dot = value.find('.');
    return value.size() > 1 && value[0] == ':' && isDigits(value.substr(1, dot - 1)) &&
           (dot == std::string::npos || isDigits(value.substr(dot + 1)));
}

// The serial ports' group, as udev gives it to them.
bool isSerialPortGroup(gid_t group)
{
    const struct group* entry = ::getgrnam("dialout");
    return entry != nullptr && entry->gr_gid == group;
}

// The modem line the serial library opens as root: only a terminal of the
// caller's or a serial port, never a device whose opening alone does
// something (a watchdog, a tape), nor another user's terminal. The resolved
// path, so that no link the caller can change stands between.
std::optional<std::string> callersTerminal(const std::string& path)
{
    const std::string device = resolvedAsCaller({::getuid(), ::getgid()}, path);
    struct stat info {};
    if ((device.rfind("/dev/pts/", 0) != 0 && device.rfind("/dev/tty", 0) != 0) ||
        ::stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode) ||
        (info.st_uid != ::getuid() && !isSerialPortGroup(info.st_gid)))
        return std::nullopt;
    return device;
}

// Opened with the caller's file-system ids, so only what the caller may read;
// -1 otherwise.
int openAsCaller(const std::string& path)
{
    const AsCaller caller({::getuid(), ::getgid()});
    return caller.ok() ? ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
}

// The descriptor of the authority copy, -1 while there is none.
int authorityCopy = -1;

// The caller's authority file, read without following a link and copied into
// a file of the updater's own that only this process and its children reach:
// root never opens a path the caller could point elsewhere afterwards.
std::optional<std::string> callersAuthority(const std::string& path, const char*& reason)
{
    const int fd = openAsCaller(path);
    reason = fd < 0 ? "the caller cannot open it" : "not a regular file of the caller's";
    struct stat info {};
    std::vector<char> bytes(maxAuthorityBytes + 1);
    const bool owned =
        fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid();
    const ssize_t size = owned ? ::read(fd, bytes.data(), bytes.size()) : -1;
    if (fd >= 0)
        ::close(fd);
    if (size < 0 || size > maxAuthorityBytes)
        return std::nullopt;
    const int copy = ::memfd_create("xauthority", 0);
    if (copy < 0 || ::write(copy, bytes.data(), size_t(size)) != size) {
        if (copy >= 0)
            ::close(copy);
        return std::nullopt;
    }
    return holdDescriptor(authorityCopy, copy);
}

// What a caller-given variable may say, checked; nothing when it is dropped.
// The reason of a refusal goes to standard error, one line.
std::optional<std::string> checked(const std::string& name, const std::string& value)
{
    std::optional<std::string> kept;
    const char* reason = nullptr;
    if (name == "DISPLAY") {
        kept = isLocalDisplay(value) ? std::optional(value) : std::nullopt;
        reason = "not a local display";
    } else if (name == "XAUTHORITY") {
        kept = callersAuthority(value, reason);
    } else if (name == "QT_QPA_PLATFORM") {
        kept = isOneOf(value, platformPlugins) ? std::optional(value) : std::nullopt;
        reason = "not xcb, wayland or offscreen";
    } else if (name == "DBUS_SESSION_BUS_ADDRESS") {
        kept = callersSessionBus(value, reason);
    } else if (name == "BKSERIAL_DEVICE") {
        kept = callersTerminal(value);
        reason = "not a terminal of the caller's nor a serial port";
    } else if (isProxyVariable(name)) {
        kept = checkedProxyVariable(name, value, reason);
    } else {
        return std::nullopt;
    }
    if (!kept)
        std::fprintf(stderr, "cmupdater: %s dropped: %s\n", name.c_str(), reason);
    return kept;
}

// The display and its authority, the language and the platform plugin, the
// modem line's settings and the proxy; nothing that names a file to load.
std::optional<std::string> keptValue(const std::string& name, const std::string& value)
{
    if (name == "LIB6246_ACK_TIMEOUT_MS")
        return isDigits(value) ? std::optional(value) : std::nullopt;
    if (isNameVariable(name))
        return value.find('/') == std::string::npos ? std::optional(value) : std::nullopt;
    return checked(name, value);
}

std::vector<std::pair<std::string, std::string>> keptVariables()
{
    std::vector<std::pair<std::string, std::string>> kept;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr)
            continue;
        std::string name(*entry, static_cast<size_t>(equals - *entry));
        if (std::optional<std::string> value = keptValue(name, equals + 1))
            kept.emplace_back(std::move(name), std::move(*value));
    }
    return kept;
}

// Root's own home, not the user's: whatever the toolkit caches lands there.
std::string effectiveHome()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
}

// A standard descriptor the caller closed would be taken by the next file
// opened, and the updater's messages written into it.
void openStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) < 0)
            std::_Exit(1);
    }
}

} // namespace

std::vector<int> cleanProcess()
{
    openStandardDescriptors();
    ::umask(022);
    const std::vector<std::pair<std::string, std::string>> kept = keptVariables();
    const std::string home = effectiveHome();
    ::clearenv();
    for (const auto& [name, value] : kept)
        ::setenv(name.c_str(), value.c_str(), 1);
    // Without an authority of the caller's, the toolkit would offer the
    // cookies in root's home to whatever display the caller named.
    if (::getuid() != 0)
        ::setenv("XAUTHORITY", "/dev/null", 0);
    ::setenv("PATH", fixedPath, 1);
    ::setenv("HOME", home.c_str(), 1);
    std::vector<int> held;
    for (const int fd : {authorityCopy, sessionBusSocket()})
        if (fd >= 0)
            held.push_back(fd);
    return held;
}
