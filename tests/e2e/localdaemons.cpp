#include "localdaemons.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

LocalDaemon::LocalDaemon()
{
    QTcpServer probe;
    listenPort = probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

LocalDaemon::~LocalDaemon()
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
}

void LocalDaemon::start(const QString& program, QStringList arguments, const QString& configName,
                        const QByteArray& config)
{
    QFile file(dir.filePath(configName));
    if (listenPort == 0 || !file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
        return;
    file.close();
    arguments.replaceInStrings("%config", file.fileName()).replaceInStrings("%dir", dir.path());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.waitForStarted();
    for (int tries = 0; tries < 100 && !listening(); ++tries)
        QThread::msleep(50);
}

bool LocalDaemon::listening() const
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, listenPort);
    return process.state() == QProcess::Running && socket.waitForConnected(500);
}

Nginx::Nginx(const QString& root, const QString& locations)
{
    start("/usr/sbin/nginx", {"-p", "%dir", "-c", "%config", "-e", "%dir/error.log"}, "nginx.conf",
          QString("daemon off; master_process off; pid %1/nginx.pid;\n"
                  "error_log %1/error.log; events { worker_connections 64; }\n"
                  "http { access_log %1/access.log combined; client_body_temp_path "
                  "%1/body; server { listen 127.0.0.1:%2; root %3; %4 } }\n")
              .arg(filePath("."))
              .arg(port())
              .arg(root, locations)
              .toUtf8());
}

QByteArrayList Nginx::reportLines() const
{
    QByteArrayList lines;
    for (const QByteArray& line : contentOf(log()).split('\n'))
        if (line.contains("/reports/"))
            lines << line;
    return lines;
}

Tinyproxy::Tinyproxy(const QByteArray& user, const QByteArray& password)
{
    start("/usr/bin/tinyproxy", {"-d", "-c", "%config"}, "tinyproxy.conf",
          QString("Port %1\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 20\n"
                  "LogLevel Connect\nLogFile \"%2\"\nBasicAuth %3 %4\n")
              .arg(port())
              .arg(filePath("tinyproxy.log"), QString::fromUtf8(user), QString::fromUtf8(password))
              .toUtf8());
}

QByteArray Tinyproxy::log() const
{
    return contentOf(filePath("tinyproxy.log"));
}
