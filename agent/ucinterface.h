#pragma once

#include "UpdateAgent.h"

// The bridge to the update-agent library: calls go to the library's agent
// interface, the library's callbacks go to the dialog held in mainWindow.
class UCInterface final : private CMUpdaterInterface {
public:
    UCInterface();
    ~UCInterface() override;

    void GetAgent();
    void RegisterSelf();

    bool SetFilePath(char* configPath);
    bool Init();
    bool Update(_UpdateMode mode, _CLIENT_INFO client);
    bool Download();
    bool StopDownload();
    bool RefuseDownload();

private:
    void HaveNewVsersion() override;
    void SetNowDownloadStatus(CheckVersionState state) override;
    void DownloadFinished(bool ok) override;
    void DownloadProcess(char* filename, int percent) override;

    UpdateAgentInterface* agent = nullptr;
};
