#pragma once

#include "JobWorker.h"
#include "PackageDownload.h"

#include <UpdateAgent.h>

#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace updateagent {

// The library's one agent. Calls return at once; the jobs run on the worker, which
// makes every callback.
class Agent final : public UpdateAgentInterface {
public:
    // Never destroyed: the host ends with _exit() and may never say goodbye.
    static Agent& instance();

    void registerCallbacks(CMUpdaterInterface* callbacks);
    // Aborts running work, drops queued work and silences the callbacks; waits for the
    // worker unless called from one of its callbacks.
    void unInit();

    bool SetFilePath(char* configPath) override;
    bool Init() override;
    bool Update(_UpdateMode mode, _CLIENT_INFO client) override;
    bool Download() override;
    bool StopDownload() override;
    bool RefuseDownload() override;

    // The callbacks of the given session, or nullptr once it has been ended.
    CMUpdaterInterface* callbacksFor(std::uint64_t session) const;

private:
    Agent() = default;

    bool stopDownload(StopReason reason);
    StopReason stopReasonFor(std::uint64_t session, std::uint64_t download) const;
    QString configPath() const;

    mutable std::mutex mutex_;
    QString configPath_;
    std::atomic<CMUpdaterInterface*> callbacks_{nullptr};
    // UnInit starts a new session; work of an older one neither runs on nor calls back.
    std::atomic<std::uint64_t> session_{0};
    // Downloads are numbered; a stop applies to those up to the number it names.
    std::atomic<std::uint64_t> lastDownload_{0};
    std::atomic<std::uint64_t> finishedDownload_{0};
    std::atomic<std::uint64_t> stoppedDownload_{0};
    std::atomic<StopReason> stopReason_{StopReason::None};
    JobWorker worker_;
};

} // namespace updateagent
