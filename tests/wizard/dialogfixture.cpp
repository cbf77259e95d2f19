#include "dialogfixture.h"

#include "session/updatesession.h"
#include "wizard/cmupdater.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdlib>

int LocalShell::run(const QString& line)
{
    if (line.startsWith("kill") || line.startsWith("rm -rf /dev/"))
        return 0;
    return std::system(line.toLocal8Bit().constData());
}

DialogFixture::DialogFixture(const QByteArray& updateKeys)
{
    FakePlatform::instance().reset();
    writeFile("UpdateCfg.ini", "[UPDATE]\nHEALTH_TIME=0\n" + updateKeys);
    run = std::make_unique<UpdateSession>(Installation::load(installation.path()));
    updater =
        std::make_unique<CMUpdater>(*run, nullptr, "CMUpdater", true, Qt::CustomizeWindowHint);
    CMUpdater::Timing timing;
    timing.checkEndPause = std::chrono::milliseconds(50);
    timing.stopPause = std::chrono::milliseconds(0);
    updater->setTiming(timing);
    updater->setProcessEnd([this](int status) { endedWith = status; });
}

DialogFixture::~DialogFixture()
{
    updater.reset();
    run.reset();
}

QString DialogFixture::path(const QString& name) const
{
    return installation.filePath(name);
}

void DialogFixture::writeFile(const QString& name, const QByteArray& content) const
{
    QFile file(path(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

void DialogFixture::processEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QByteArray description(const QByteArray& header, const QByteArray& packages,
                       const QByteArray& server)
{
    return "<?xml version=\"1.0\"?><Update>" + header + "<Packages>" + packages +
           "</Packages><Servers>" + server + "</Servers></Update>";
}

QByteArray newVersionHeader(const QByteArray& version, const QByteArray& text)
{
    return "<Info><Version>" + version + "</Version><Description>" + text +
           "</Description><Device>RX481</Device><ClientGroup>g</ClientGroup>"
           "<ClientID>c</ClientID></Info>";
}

QByteArray package(const QByteArray& packageClass, const QByteArray& filename,
                   const QByteArray& size, const QByteArray& text)
{
    return "<Package Class=\"" + packageClass + "\" Filename=\"" + filename + "\" Size=\"" + size +
           "\" MD5=\"abc\" URL=\"http://h/" + filename + "\" PriorityFlag=\"1\" Version=\"9.1\">" +
           text + "</Package>";
}
