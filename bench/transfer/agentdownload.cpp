// Drives the update-agent library as the updater does for a download: the
// settings file, then Download(), which fetches what "UserSelection.xml" beside
// it names. Prints the wall time from the call to DownloadFinished, the
// process's CPU time over the same span and the CPU time of the agent's worker
// thread, which receives and writes the bytes (the rest is the MD5 thread's).
//   agent-download PATH/UpdateCfg.ini

#include <UpdateAgent.h>

#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

double seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

struct CpuTime {
    double user = 0;
    double system = 0;
};

CpuTime cpuTime(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

class FinishWaiter final : public CMUpdaterInterface {
public:
    void HaveNewVsersion() override {}
    void SetNowDownloadStatus(CheckVersionState) override {}
    void DownloadProcess(char*, int) override {}
    // Called on the worker thread, which has done nothing but this download.
    void DownloadFinished(bool ok) override
    {
        const CpuTime worker = cpuTime(RUSAGE_THREAD);
        const std::lock_guard lock(mutex_);
        workerCpu = worker;
        ok_ = ok;
        finished_ = true;
        done_.notify_all();
    }

    bool wait()
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return finished_; });
        return ok_;
    }

    CpuTime workerCpu;

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool ok_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH/UpdateCfg.ini\n", argv[0]);
        return 2;
    }
    FinishWaiter waiter;
    RegisterCMUpdaterInterface(&waiter);
    UpdateAgentInterface* agent = GetUpdateAgentInterface();
    std::string config = argv[1];
    if (!agent->SetFilePath(config.data()) || !agent->Init())
        return 1;

    const CpuTime cpuBefore = cpuTime(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    agent->Download();
    const bool ok = waiter.wait();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const CpuTime cpuAfter = cpuTime(RUSAGE_SELF);
    UnInit();
    std::printf("wall=%.4f user=%.4f sys=%.4f worker=%.4f ok=%d\n", wall.count(),
                cpuAfter.user - cpuBefore.user, cpuAfter.system - cpuBefore.system,
                waiter.workerCpu.user + waiter.workerCpu.system, ok ? 1 : 0);
    return ok ? 0 : 1;
}
