#include "agent/ucinterface.h"

#include "agent/updateinfo.h"

#include "base/globals.h"
#include "wizard/cmupdater.h"

#include <QString>

UpdateInfoRecord updateInfo;

UCInterface::UCInterface()
{
    GetAgent();
}

UCInterface::~UCInterface()
{
    UnInit();
}

void UCInterface::GetAgent()
{
    agent = GetUpdateAgentInterface();
}

void UCInterface::RegisterSelf()
{
    RegisterCMUpdaterInterface(this);
}

bool UCInterface::SetFilePath(char* configPath)
{
    return agent != nullptr && agent->SetFilePath(configPath);
}

bool UCInterface::Init()
{
    return agent != nullptr && agent->Init();
}

bool UCInterface::Update(_UpdateMode mode, _CLIENT_INFO client)
{
    return agent != nullptr && agent->Update(mode, client);
}

bool UCInterface::Download()
{
    return agent != nullptr && agent->Download();
}

bool UCInterface::StopDownload()
{
    return agent != nullptr && agent->StopDownload();
}

bool UCInterface::RefuseDownload()
{
    return agent != nullptr && agent->RefuseDownload();
}

// A callback that comes before the dialog exists has nobody to tell.
void UCInterface::HaveNewVsersion()
{
    if (mainWindow != nullptr)
        mainWindow->HaveNewVersion();
}

void UCInterface::SetNowDownloadStatus(CheckVersionState state)
{
    if (mainWindow != nullptr)
        mainWindow->ManualUpdateState(state);
}

void UCInterface::DownloadFinished(bool ok)
{
    if (mainWindow != nullptr)
        mainWindow->DownloadFinished(ok);
}

void UCInterface::DownloadProcess(char* filename, int percent)
{
    if (mainWindow != nullptr)
        mainWindow->DownloadProcess(QString::fromLatin1(filename), percent);
}
