#pragma once

#include <QtGlobal>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace updateagent {

// The part of a file a 206 response carries, from its Content-Range.
struct ContentRange {
    qint64 first = 0;
    qint64 completeLength = -1; // -1 when the server wrote "*"
};

// The headers of the latest HTTP response of a transfer, as they arrive. Nothing in
// them is trusted: a value that is not printable ASCII of a sane length counts as absent.
class ResponseHeaders final {
public:
    // One line as curl hands it over, line end included; a status line starts a new response.
    void add(std::string_view line);

    // 0 until a status line came: FTP and local files have none.
    long status() const { return status_; }
    // A strong ETag, else Last-Modified; empty when neither is usable.
    std::string validator() const;
    std::optional<ContentRange> contentRange() const;
    // The pause a Retry-After asks for (seconds or a date), counted from now.
    std::optional<std::chrono::seconds> retryAfter(std::time_t now) const;

private:
    long status_ = 0;
    std::string etag_;
    std::string lastModified_;
    std::string contentRange_;
    std::string retryAfter_;
};

} // namespace updateagent
