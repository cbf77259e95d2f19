#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace updateagent {

// One thread that runs posted jobs one after the other. post() never waits for a
// job; only shutDown() waits, and not when it is called from a job itself.
class JobWorker final {
public:
    using Job = std::function<void()>;

    JobWorker() = default;
    ~JobWorker();
    JobWorker(const JobWorker&) = delete;
    JobWorker& operator=(const JobWorker&) = delete;

    // Starts the thread on first use, and again after a shutDown().
    void post(Job job);
    // Drops the jobs not yet started and lets the running one finish.
    void shutDown();

private:
    struct Queue;

    static void serve(const std::shared_ptr<Queue>& queue);

    std::mutex mutex_;
    // Shared with the thread, which may outlive this worker's hold on it.
    std::shared_ptr<Queue> queue_;
    std::thread thread_;
};

} // namespace updateagent
