#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// pyftpdlib on 127.0.0.1, serving a directory read-only to anonymous users at
// 256 KiB/s, so that a test can stop a transfer halfway. It ends by itself after a
// minute at the latest.
class LocalFtpServer final {
public:
    explicit LocalFtpServer(const QString& directory);
    ~LocalFtpServer();
    LocalFtpServer(const LocalFtpServer&) = delete;
    LocalFtpServer& operator=(const LocalFtpServer&) = delete;

    bool isRunning() const { return port_ != 0; }
    QString url() const;
    // The byte counts of the files sent so far, from the server's log.
    QList<qint64> retrievedBytes();

private:
    QProcess process_;
    quint16 port_ = 0;
    QByteArray log_;
};
