#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "flasher.h"
#include "lib6246.h"

namespace {

constexpr std::chrono::milliseconds kDefaultAckTimeout{1500};
constexpr long kLongestAckTimeoutMs = 60000;

std::chrono::milliseconds ackTimeout()
{
    const char* text = std::getenv("LIB6246_ACK_TIMEOUT_MS");
    if (text == nullptr)
        return kDefaultAckTimeout;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 1 || value > kLongestAckTimeoutMs)
        return kDefaultAckTimeout;
    return std::chrono::milliseconds(value);
}

} // namespace

extern "C" __attribute__((visibility("default"))) bool setIde(_DOWNLOAD_INFO* info,
                                                              _IDownloadEvent* events)
{
    if (info == nullptr || events == nullptr || events->onProgress == nullptr)
        return false;
    const std::size_t length = strnlen(info->imageDir, sizeof info->imageDir);
    // An unterminated field names no directory; the empty path lists no files.
    const std::string imageDir =
        length < sizeof info->imageDir ? std::string(info->imageDir, length) : std::string();
    flash::Flasher flasher(*events, ackTimeout());
    return flasher.run(imageDir);
}
