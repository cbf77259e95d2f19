#pragma once

#include "Settings.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <string>

namespace updateagent {

// Where the bytes of a transfer go. Either call may end the transfer by returning false.
class TransferSink {
public:
    virtual ~TransferSink() = default;
    virtual bool receive(const char* data, std::size_t size) = 0;
    // total is what the source announced, 0 while unknown.
    virtual bool proceed(qint64 total) = 0;
};

struct TransferRequest {
    std::string url;
    std::string protocols; // as curl lists them, e.g. "http,https"
    std::string userName;  // empty: no credentials of our own
    std::string password;
};

struct TransferResult {
    enum class Status { Completed, Failed, Cancelled };
    Status status;
    std::string error;
};

// The address as curl takes it: what a URL may not hold (spaces, non-ASCII) is
// escaped, escapes already made are kept.
std::string transferUrl(const QString& url);

// Runs one transfer on the calling thread. cancelled is polled while it runs, so
// another thread can end it by making it true.
TransferResult transfer(const TransferRequest& request, const TransferLimits& limits,
                        TransferSink& sink, const std::function<bool()>& cancelled);

} // namespace updateagent
