#include "ResponseHeaders.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace updateagent {

namespace {

constexpr std::size_t LongestValue = 256;
// Enough digits for any file size, few enough that a number cannot overflow.
constexpr std::size_t LongestNumber = 15;

std::string_view trimmed(std::string_view text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isPrintable(std::string_view text)
{
    return text.size() <= LongestValue &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

bool namedAs(std::string_view name, std::string_view expected)
{
    return name.size() == expected.size() &&
           std::equal(name.begin(), name.end(), expected.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// Digits only, without sign or spaces.
std::optional<qint64> number(std::string_view text)
{
    if (text.empty() || text.size() > LongestNumber ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    qint64 value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

long statusOf(std::string_view line)
{
    // "HTTP/1.1 206 Partial Content", "HTTP/2 200"
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return 0;
    const std::optional<qint64> code = number(line.substr(space + 1, 3));
    return code ? static_cast<long>(*code) : 0;
}

} // namespace

void ResponseHeaders::add(std::string_view line)
{
    line = trimmed(line);
    if (line.substr(0, 5) == "HTTP/") {
        *this = ResponseHeaders();
        status_ = statusOf(line);
        return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    const std::string_view name = trimmed(line.substr(0, colon));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (!isPrintable(value))
        return;
    const std::pair<std::string_view, std::string*> kept[] = {{"ETag", &etag_},
                                                              {"Last-Modified", &lastModified_},
                                                              {"Content-Range", &contentRange_},
                                                              {"Retry-After", &retryAfter_}};
    for (const auto& [field, target] : kept) {
        if (namedAs(name, field))
            target->assign(value);
    }
}

std::string ResponseHeaders::validator() const
{
    // A weak tag may not be used in If-Range; a strong one is quoted.
    if (etag_.size() >= 2 && etag_.front() == '"' && etag_.back() == '"')
        return etag_;
    return lastModified_;
}

std::optional<ContentRange> ResponseHeaders::contentRange() const
{
    // "bytes FIRST-LAST/LENGTH" or "bytes FIRST-LAST/*"
    const std::string_view text = contentRange_;
    const std::size_t dash = text.find('-');
    const std::size_t slash = text.find('/');
    if (text.substr(0, 6) != "bytes " || dash == std::string_view::npos ||
        slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const std::optional<qint64> first = number(text.substr(6, dash - 6));
    const std::optional<qint64> last = number(text.substr(dash + 1, slash - dash - 1));
    const std::string_view length = text.substr(slash + 1);
    const std::optional<qint64> complete = number(length);
    if (!first || !last || *last < *first || (length != "*" && (!complete || *complete <= *last)))
        return std::nullopt;
    return ContentRange{*first, complete.value_or(-1)};
}

std::optional<std::chrono::seconds> ResponseHeaders::retryAfter(std::time_t now) const
{
    if (retryAfter_.empty())
        return std::nullopt;
    if (const std::optional<qint64> seconds = number(retryAfter_))
        return std::chrono::seconds(*seconds);
    const std::time_t date = curl_getdate(retryAfter_.c_str(), nullptr);
    if (date < 0)
        return std::nullopt;
    return std::chrono::seconds(std::max<std::time_t>(0, date - now));
}

} // namespace updateagent
