#include "Agent.h"

#include "Settings.h"
#include "VersionCheck.h"

#include <QFile>

namespace updateagent {

namespace {

// Hands the callbacks on only while the session that started the job lasts.
class CallbackGate final : public CMUpdaterInterface {
public:
    CallbackGate(const Agent& agent, std::uint64_t session) : agent_(agent), session_(session) {}

    void HaveNewVsersion() override
    {
        forward([](CMUpdaterInterface& target) { target.HaveNewVsersion(); });
    }
    void SetNowDownloadStatus(CheckVersionState state) override
    {
        forward([state](CMUpdaterInterface& target) { target.SetNowDownloadStatus(state); });
    }
    void DownloadFinished(bool ok) override
    {
        forward([ok](CMUpdaterInterface& target) { target.DownloadFinished(ok); });
    }
    void DownloadProcess(char* filename, int percent) override
    {
        forward([=](CMUpdaterInterface& target) { target.DownloadProcess(filename, percent); });
    }

private:
    template <typename Call> void forward(const Call& call) const
    {
        if (CMUpdaterInterface* target = agent_.callbacksFor(session_))
            call(*target);
    }

    const Agent& agent_;
    std::uint64_t session_;
};

} // namespace

Agent& Agent::instance()
{
    static Agent* const agent = new Agent;
    return *agent;
}

void Agent::registerCallbacks(CMUpdaterInterface* callbacks)
{
    callbacks_ = callbacks;
}

void Agent::unInit()
{
    callbacks_ = nullptr;
    ++session_;
    worker_.shutDown();
}

bool Agent::SetFilePath(char* configPath)
{
    if (configPath == nullptr || *configPath == '\0')
        return false;
    const std::lock_guard lock(mutex_);
    configPath_ = QFile::decodeName(configPath);
    return true;
}

bool Agent::Init()
{
    return !configPath().isEmpty();
}

bool Agent::Update(_UpdateMode, _CLIENT_INFO client)
{
    const QString config = configPath();
    if (config.isEmpty())
        return false;
    const std::uint64_t session = session_;
    worker_.post([this, config, client, session] {
        CallbackGate callbacks(*this, session);
        runVersionCheck(loadSettings(config), client, callbacks,
                        [this, session] { return session_ != session; });
    });
    return true;
}

bool Agent::Download()
{
    const QString config = configPath();
    if (config.isEmpty())
        return false;
    const std::uint64_t session = session_;
    const std::uint64_t download = ++lastDownload_;
    worker_.post([this, config, session, download] {
        CallbackGate callbacks(*this, session);
        runDownload(loadSettings(config), callbacks,
                    [this, session, download] { return stopReasonFor(session, download); });
        finishedDownload_ = download;
    });
    return true;
}

bool Agent::StopDownload()
{
    return stopDownload(StopReason::Stopped);
}

bool Agent::RefuseDownload()
{
    return stopDownload(StopReason::Refused);
}

CMUpdaterInterface* Agent::callbacksFor(std::uint64_t session) const
{
    return session_ == session ? callbacks_.load() : nullptr;
}

bool Agent::stopDownload(StopReason reason)
{
    // Only flags: the worker may be deep in a callback of the caller's and must not
    // be waited for.
    stopReason_ = reason;
    stoppedDownload_ = lastDownload_.load();
    return finishedDownload_ < stoppedDownload_;
}

StopReason Agent::stopReasonFor(std::uint64_t session, std::uint64_t download) const
{
    if (session_ != session)
        return StopReason::Ended;
    return stoppedDownload_ >= download ? stopReason_.load() : StopReason::None;
}

QString Agent::configPath() const
{
    const std::lock_guard lock(mutex_);
    return configPath_;
}

} // namespace updateagent
