#include "agent/ucinterface.h"

#include <cstring>

UCInterface::UCInterface(AgentListener& listener) : listener(listener)
{
    GetAgent();
}

void UCInterface::GetAgent()
{
    agent = GetUpdateAgentInterface();
}

void UCInterface::RegisterSelf()
{
    RegisterCMUpdaterInterface(this);
}

UCInterface::~UCInterface()
{
    UnInit();
}

bool UCInterface::SetFilePath(const QString& path)
{
    const QByteArray bytes = path.toLocal8Bit();
    // Never cut or overrun: start-up refuses installation paths that do not fit.
    if (bytes.size() >= configPathBufferSize)
        return false;
    std::memcpy(configPath.data(), bytes.constData(), static_cast<size_t>(bytes.size()) + 1);
    return agent != nullptr && agent->SetFilePath(configPath.data());
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

void UCInterface::HaveNewVsersion()
{
    listener.HaveNewVersion();
}

void UCInterface::SetNowDownloadStatus(CheckVersionState state)
{
    listener.ManualUpdateState(state);
}

void UCInterface::DownloadFinished(bool ok)
{
    listener.DownloadFinished(ok);
}

void UCInterface::DownloadProcess(char* filename, int percent)
{
    listener.DownloadProcess(QString::fromLatin1(filename), percent);
}
