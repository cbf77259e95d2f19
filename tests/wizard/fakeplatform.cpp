#include "fakeplatform.h"

#include <QDir>

namespace {

class FakeAgent final : public UpdateAgentInterface {
public:
    bool SetFilePath(char* configPath) override
    {
        record("SetFilePath");
        FakePlatform::instance().configPath = QString::fromLocal8Bit(configPath);
        return true;
    }
    bool Init() override { return record("Init"); }
    bool Update(_UpdateMode mode, _CLIENT_INFO client) override
    {
        FakePlatform::instance().client = client;
        return record(QStringLiteral("Update %1").arg(int(mode)));
    }
    bool Download() override
    {
        ++FakePlatform::instance().downloads;
        return record("Download");
    }
    bool StopDownload() override { return record("StopDownload"); }
    bool RefuseDownload() override { return record("RefuseDownload"); }

private:
    static bool record(const QString& call)
    {
        FakePlatform::instance().calls << call;
        return true;
    }
};

FakeAgent agent;

} // namespace

FakePlatform& FakePlatform::instance()
{
    static FakePlatform platform;
    return platform;
}

void FakePlatform::reset()
{
    *this = FakePlatform();
}

UpdateAgentInterface* GetUpdateAgentInterface()
{
    FakePlatform::instance().calls << QStringLiteral("GetUpdateAgentInterface");
    return &agent;
}

void RegisterCMUpdaterInterface(CMUpdaterInterface* callbacks)
{
    FakePlatform::instance().calls << QStringLiteral("RegisterCMUpdaterInterface");
    FakePlatform::instance().callbacks = callbacks;
}

void UnInit()
{
    FakePlatform::instance().calls << QStringLiteral("UnInit");
}

bool setIde(_DOWNLOAD_INFO* info, _IDownloadEvent* events)
{
    FakePlatform& platform = FakePlatform::instance();
    ++platform.flashes;
    platform.imageDir = QString::fromLocal8Bit(info->imageDir);
    platform.imageFiles = QDir(platform.imageDir).entryList(QDir::Files);
    for (_PDLData report : platform.reports)
        events->onProgress(&report);
    return platform.flashSucceeds;
}
