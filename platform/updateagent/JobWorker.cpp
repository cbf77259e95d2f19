#include "JobWorker.h"

#include <condition_variable>
#include <deque>
#include <optional>
#include <utility>

namespace updateagent {

struct JobWorker::Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Job> jobs;
    bool closed = false;

    void push(Job job)
    {
        const std::lock_guard lock(mutex);
        jobs.push_back(std::move(job));
        changed.notify_one();
    }

    std::optional<Job> next()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return closed || !jobs.empty(); });
        if (closed)
            return std::nullopt;
        Job job = std::move(jobs.front());
        jobs.pop_front();
        return job;
    }

    void close()
    {
        const std::lock_guard lock(mutex);
        closed = true;
        jobs.clear();
        changed.notify_one();
    }
};

JobWorker::~JobWorker()
{
    shutDown();
}

void JobWorker::post(Job job)
{
    const std::lock_guard lock(mutex_);
    if (!queue_) {
        queue_ = std::make_shared<Queue>();
        thread_ = std::thread(&JobWorker::serve, queue_);
    }
    queue_->push(std::move(job));
}

void JobWorker::shutDown()
{
    std::shared_ptr<Queue> queue;
    std::thread thread;
    {
        const std::lock_guard lock(mutex_);
        queue = std::exchange(queue_, nullptr);
        thread = std::move(thread_);
    }
    if (!queue)
        return;
    queue->close();
    // A job that shuts its own worker down cannot wait for itself to end.
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

void JobWorker::serve(const std::shared_ptr<Queue>& queue)
{
    while (std::optional<Job> job = queue->next())
        (*job)();
}

} // namespace updateagent
