#pragma once

#include <UpdateAgent.h>

#include <QByteArray>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct CallbackEvent {
    enum class Kind { NewVersion, State, Progress, Finished };

    Kind kind;
    int value; // state, percentage, or 1/0 for the download's end
    QByteArray fileName;
    std::thread::id thread;
};

// Records every callback with the thread it came on; tests wait for the one they expect.
class RecordingCallbacks final : public CMUpdaterInterface {
public:
    void HaveNewVsersion() override;
    void SetNowDownloadStatus(CheckVersionState state) override;
    void DownloadFinished(bool ok) override;
    void DownloadProcess(char* filename, int percent) override;

    using Condition = std::function<bool(const std::vector<CallbackEvent>&)>;

    bool waitUntil(const Condition& condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitFor(CallbackEvent::Kind kind);
    std::vector<CallbackEvent> events() const;
    std::vector<int> values(CallbackEvent::Kind kind) const;
    std::vector<int> progressOf(const QByteArray& fileName) const;
    // True when no callback came on the given thread and all came on one thread.
    bool allFromOneThreadOtherThan(std::thread::id thread) const;

    // Runs on the callback's thread after the event has been recorded.
    std::function<void(const CallbackEvent&)> onEvent;

private:
    void record(CallbackEvent::Kind kind, int value, const QByteArray& fileName = {});

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<CallbackEvent> events_;
};
