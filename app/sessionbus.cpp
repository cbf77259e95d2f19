#include "app/sessionbus.h"

#include "app/helddescriptor.h"
#include "base/ascaller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char pathKey[] = "unix:path=";
constexpr char guidKey[] = ",guid=";

bool allOf(const std::string& value, const char* characters)
{
    return value.find_first_not_of(characters) == std::string::npos;
}

// The bytes a bus address may carry unescaped; a path needing escapes is
// not one a session bus is given.
bool isPlainPath(const std::string& path)
{
    return path.size() > 1 && path[0] == '/' &&
           allOf(path, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_/.");
}

bool isGuid(const std::string& guid)
{
    return guid.size() == 32 && allOf(guid, "0123456789abcdef");
}

// The descriptor holding the caller's socket, -1 while there is none.
int heldSocket = -1;

// The caller's socket, opened as the caller and held: the address names the
// descriptor, so the socket root connects to later is the one checked here,
// whatever the caller puts at its path meanwhile.
std::optional<std::string> callersSocket(const std::string& path)
{
    int fd = -1;
    {
        const AsCaller caller({::getuid(), ::getgid()});
        fd = caller.ok() ? ::open(path.c_str(), O_PATH | O_CLOEXEC) : -1;
    }
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != ::getuid()) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    return holdDescriptor(heldSocket, fd);
}

} // namespace

std::optional<std::string> callersSessionBus(const std::string& address, const char*& reason)
{
    reason = "not a unix:path= address";
    if (address.rfind(pathKey, 0) != 0)
        return std::nullopt;
    const std::string rest = address.substr(sizeof(pathKey) - 1);
    const size_t comma = rest.find(',');
    const std::string path = rest.substr(0, comma);
    const std::string guid =
        comma == std::string::npos ? "" : rest.substr(comma + sizeof(guidKey) - 1);
    if (!isPlainPath(path) ||
        (comma != std::string::npos &&
         (rest.compare(comma, sizeof(guidKey) - 1, guidKey) != 0 || !isGuid(guid))))
        return std::nullopt;
    reason = "not a socket of the caller's";
    const std::optional<std::string> socket = callersSocket(path);
    if (!socket)
        return std::nullopt;
    return pathKey + *socket + (guid.empty() ? "" : guidKey + guid);
}

int sessionBusSocket()
{
    return heldSocket;
}
