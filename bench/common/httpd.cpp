// A static-file HTTP/1.1 server for the benchmarks: one connection at a time on
// 127.0.0.1, files sent with sendfile() so that the server costs the client as
// little as possible, and the arrival time of every request logged.
//   bench-httpd ROOT PORT_FILE LOG_FILE SECONDS [DROP_BYTES]
// The port goes to PORT_FILE once the server listens; each request appends
// "<epoch seconds with microseconds> <target>" to LOG_FILE; the server ends by
// itself after SECONDS. "Range: bytes=N-" is answered with 206 from N. With
// DROP_BYTES, every connection is closed after sending that many bytes of a file,
// as a link that drops would.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

constexpr std::size_t MaxHeadBytes = 16 * 1024;

struct Request {
    std::string target;
    off_t rangeStart = 0;
    timespec arrival{};
};

// The N of "Range: bytes=N-"; 0 when there is none.
off_t rangeStartOf(const std::string& head)
{
    const std::string field = "\r\nRange: bytes=";
    const std::size_t at = head.find(field);
    return at == std::string::npos ? 0
                                   : std::strtoll(head.c_str() + at + field.size(), nullptr, 10);
}

bool sendAll(int fd, const std::string& text)
{
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads up to the end of the head; the arrival time is that of its first bytes.
bool readRequest(int fd, Request& request)
{
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < MaxHeadBytes) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        if (head.empty())
            clock_gettime(CLOCK_REALTIME, &request.arrival);
        head.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t start = head.find(' ');
    const std::size_t end = head.find(' ', start + 1);
    if (start == std::string::npos || end == std::string::npos)
        return false;
    request.target = head.substr(start + 1, end - start - 1);
    request.rangeStart = rangeStartOf(head);
    return true;
}

// Only plain paths below the root are served.
std::string localPath(const std::string& root, const std::string& target)
{
    const std::string path = target.substr(0, target.find('?'));
    if (path.empty() || path[0] != '/' || path.find("..") != std::string::npos)
        return {};
    return root + path;
}

std::string fileHead(off_t from, off_t size)
{
    const std::string length = "Content-Length: " + std::to_string(size - from) + "\r\n";
    if (from == 0)
        return "HTTP/1.1 200 OK\r\n" + length;
    return "HTTP/1.1 206 Partial Content\r\n" + length + "Content-Range: bytes " +
           std::to_string(from) + '-' + std::to_string(size - 1) + '/' + std::to_string(size) +
           "\r\n";
}

void sendFile(int client, int file, off_t from, off_t size, off_t dropBytes)
{
    if (from >= size)
        from = 0;
    if (!sendAll(client, fileHead(from, size) + "Content-Type: application/octet-stream\r\n"
                                                "ETag: \"bench\"\r\nConnection: close\r\n\r\n"))
        return;
    const off_t end = dropBytes > 0 && from + dropBytes < size ? from + dropBytes : size;
    off_t offset = from;
    while (offset < end) {
        if (sendfile(client, file, &offset, static_cast<std::size_t>(end - offset)) <= 0)
            return;
    }
}

void answer(int client, const std::string& path, off_t rangeStart, off_t dropBytes)
{
    const int file = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (file >= 0 && fstat(file, &info) == 0 && S_ISREG(info.st_mode))
        sendFile(client, file, rangeStart, info.st_size, dropBytes);
    else
        sendAll(client, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    if (file >= 0)
        close(file);
}

void logRequest(int log, const Request& request)
{
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%lld.%06ld ",
                                     static_cast<long long>(request.arrival.tv_sec),
                                     request.arrival.tv_nsec / 1000);
    // One write per line: readers polling the log never see half of one.
    const std::string text =
        std::string(line, static_cast<std::size_t>(length)) + request.target + '\n';
    if (write(log, text.data(), text.size()) < 0)
        std::perror("bench-httpd: log");
}

void serve(int client, const std::string& root, int log, off_t dropBytes)
{
    // A stuck client must not hold the server past its time.
    const timeval limit{30, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    Request request;
    if (readRequest(client, request)) {
        logRequest(log, request);
        answer(client, localPath(root, request.target), request.rangeStart, dropBytes);
    }
    shutdown(client, SHUT_WR);
    close(client);
}

int listenOnLoopback()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0)
        return -1;
    return fd;
}

int portOf(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Written under another name and renamed, so a reader sees the whole number or none.
bool publishPort(const std::string& portFile, int port)
{
    const std::string partial = portFile + ".partial";
    FILE* out = std::fopen(partial.c_str(), "w");
    if (out == nullptr)
        return false;
    std::fprintf(out, "%d\n", port);
    return std::fclose(out) == 0 && std::rename(partial.c_str(), portFile.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s ROOT PORT_FILE LOG_FILE SECONDS [DROP_BYTES]\n", argv[0]);
        return 2;
    }
    const off_t dropBytes = argc == 6 ? std::atoll(argv[5]) : 0;
    const std::string root = argv[1];
    const int log = open(argv[3], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int server = listenOnLoopback();
    if (log < 0 || server < 0 || !publishPort(argv[2], portOf(server))) {
        std::perror("bench-httpd");
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(std::atoi(argv[4]));
    for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        pollfd waiting{server, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left) + 1) <= 0)
            continue;
        const int client = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            serve(client, root, log, dropBytes);
    }
    return 0;
}
