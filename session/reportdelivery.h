#pragma once

#include "history/reportqueue.h"

#include <QString>

#include <chrono>
#include <optional>
#include <thread>

struct Installation;

// How long the reports may take of a run, all of them together.
inline constexpr std::chrono::seconds reportBudget{5};

// Sends the installation's outcome reports on a thread of its own, so that
// nothing of the run waits for the network. With reports off it does nothing
// at all: no queue, no request.
class ReportDelivery final {
public:
    explicit ReportDelivery(const Installation& installation);
    ~ReportDelivery();
    ReportDelivery(const ReportDelivery&) = delete;
    ReportDelivery& operator=(const ReportDelivery&) = delete;

    // Queues the report of run, when there is one, and sends what waits.
    void start(const std::optional<ReportedRun>& run);
    // Waits until the sending is over: at most the budget after start.
    void finish();

private:
    void deliver(const std::optional<ReportedRun>& run);

    QString basePath;
    QString serverUrl;
    QByteArray proxy;
    bool enabled;
    std::thread sender;
};

// One report fetched at url within timeout: true when the server answered
// it (a 2xx, or a 404 from a server that only logs it). proxy as the
// installation's PROXY: empty leaves it to the caller's variables, as the agent does.
bool sendReport(const QByteArray& url, std::chrono::milliseconds timeout,
                const QByteArray& proxy = {});
