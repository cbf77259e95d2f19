#pragma once

#include "agent/updatesource.h"

#include <QString>

#include <array>

// What the agent's callbacks tell, on the agent's thread.
class AgentListener {
public:
    virtual ~AgentListener() = default;
    virtual void HaveNewVersion() = 0;
    virtual void ManualUpdateState(int state) = 0;
    virtual void DownloadProcess(QString filename, int percent) = 0;
    virtual void DownloadFinished(bool ok) = 0;
};

// The bridge to the update-agent library: calls go to the library's agent
// interface, the library's callbacks go to the listener. The library takes
// one set of callbacks: the bridge made last receives them.
class UCInterface final : public UpdateSource, private CMUpdaterInterface {
public:
    explicit UCInterface(AgentListener& listener);
    ~UCInterface() override;
    UCInterface(const UCInterface&) = delete;
    UCInterface& operator=(const UCInterface&) = delete;

    // The library's latest agent interface; the bridge keeps it.
    void GetAgent();
    // The bridge becomes the library's one set of callbacks.
    void RegisterSelf();

    // The settings file the agent reads; false when the path does not fit its buffer.
    bool SetFilePath(const QString& configPath);
    bool Init();
    bool Update(_UpdateMode mode, _CLIENT_INFO client) override;
    bool Download() override;
    bool StopDownload() override;
    bool RefuseDownload();

    // The agent's settings-path buffer, terminator included.
    static constexpr int configPathBufferSize = 256;

private:
    void HaveNewVsersion() override;
    void SetNowDownloadStatus(CheckVersionState state) override;
    void DownloadFinished(bool ok) override;
    void DownloadProcess(char* filename, int percent) override;

    AgentListener& listener;
    UpdateAgentInterface* agent = nullptr;
    // The library keeps the pointer it is handed: it lives as long as the bridge.
    std::array<char, configPathBufferSize> configPath{};
};
