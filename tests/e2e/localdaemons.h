#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A daemon from Debian on a free loopback port, a child of the test with a
// directory of its own for its configuration and logs; no system service.
class LocalDaemon {
public:
    virtual ~LocalDaemon();
    LocalDaemon(const LocalDaemon&) = delete;
    LocalDaemon& operator=(const LocalDaemon&) = delete;

    bool listening() const;
    quint16 port() const { return listenPort; }
    QString url() const { return QString("http://127.0.0.1:%1").arg(listenPort); }

protected:
    LocalDaemon();
    // Writes config into the directory as configName and starts program with
    // arguments, in which %config and %dir stand for their paths.
    void start(const QString& program, QStringList arguments, const QString& configName,
               const QByteArray& config);
    QString filePath(const QString& name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QProcess process;
    quint16 listenPort = 0;
};

// nginx serving root: its access log is the collector of the reports.
// locations are more directives of its one server.
class Nginx final : public LocalDaemon {
public:
    explicit Nginx(const QString& root, const QString& locations = {});

    QString log() const { return filePath("access.log"); }
    QByteArrayList reportLines() const;
};

// tinyproxy asking for user and password, logging every request.
class Tinyproxy final : public LocalDaemon {
public:
    Tinyproxy(const QByteArray& user, const QByteArray& password);

    QByteArray log() const;
};
