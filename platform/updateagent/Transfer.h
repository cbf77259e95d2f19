#pragma once

#include "Settings.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace updateagent {

// Where the bytes of one response belong in the file, known before its first byte.
struct ResponseStart {
    qint64 offset = 0;     // the file position of the first byte
    qint64 total = -1;     // the whole file's size as the source announced it, -1 when it did not
    std::string validator; // ETag, Last-Modified or the file's time at the source; empty if none
};

// Where the bytes of a transfer go. Either call may end the transfer by returning false.
class TransferSink {
public:
    virtual ~TransferSink() = default;
    // Once for every response that brings the file, before its bytes.
    virtual bool begin(const ResponseStart& start) = 0;
    virtual bool receive(const char* data, std::size_t size) = 0;
};

struct TransferRequest {
    std::string url;
    std::string protocols; // as curl lists them, e.g. "http,https"
    std::string userName;  // empty: no credentials of our own
    std::string password;
};

// Asks the source to continue a file from offset, provided it still has the file
// the validator names; an HTTP server that has another sends it whole.
struct ResumePoint {
    qint64 offset = 0;
    std::string validator;
};

struct TransferResult {
    enum class Status { Completed, Failed, Cancelled };
    // Which part of the road failed, where the caller tells them apart.
    enum class Failure {
        Other,
        NotFound,     // the source answered that it has no such file
        Unreachable,  // no connection to the source: refused, or a name that does not resolve
        ProxyRefused, // the proxy refused the connection or the credentials
        Stalled,      // too few bytes over the stall window
    };
    Status status = Status::Failed;
    Failure failure = Failure::Other;
    std::string error;         // never a proxy's credentials
    bool transient = false;    // a failure that may pass when the transfer is tried again
    bool rangeRefused = false; // the source cannot continue where asked: start the file over
    std::optional<std::chrono::seconds> retryAfter; // the pause the server asked for

    static TransferResult ended(Status status, std::string error = {});
};

// The address as curl takes it: what a URL may not hold (spaces, non-ASCII) is
// escaped, escapes already made are kept.
std::string transferUrl(const QString& url);

// Runs one transfer on the calling thread, through the proxy limits name for the
// request's address and at most at their rate. cancelled is polled while it runs, so
// another thread can end it by making it true.
TransferResult transfer(const TransferRequest& request, const TransferLimits& limits,
                        TransferSink& sink, const std::function<bool()>& cancelled,
                        const ResumePoint& resume = {});

} // namespace updateagent
