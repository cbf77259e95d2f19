#pragma once

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <utility>

// Starts program detached in workingDirectory; its process id, or 0 when it
// could not start.
using ProcessStarter =
    std::function<qint64(const QString& program, const QString& workingDirectory)>;

// Starts program with no arguments, its standard streams on the null device so
// that nothing the updater's parent reads from stays open.
qint64 startDetachedProcess(const QString& program, const QString& workingDirectory);

// The connection manager and its dialer, stopped before anything of the
// installation changes under them and started again afterwards.
class ConnectionManager final {
public:
    // cmName is the executable inside basePath; wvdial the dialer's process id.
    ConnectionManager(QString basePath, QString cmName, QString wvdial);

    // How long the stopped processes get to let go of the modem.
    void setStopPause(std::chrono::milliseconds pause) { stopPause = pause; }
    void setProcessStarter(ProcessStarter starter) { startProcess = std::move(starter); }

    bool running() const;
    // Stops the dialer and every process of the connection manager's name,
    // waits, and removes the modem's device node.
    void stop();
    // Stops every process of the connection manager's name, and waits.
    void kill();
    // Starts the connection manager when its executable is there to start.
    void start();
    // Whether the manager start() started still runs: its executable, or a
    // process descended from the one started.
    bool startedRunning() const;
    // Stops what startedRunning() finds, and waits.
    void killStarted();

private:
    QString basePath;
    QString cmName;
    QString wvdial;
    std::chrono::milliseconds stopPause{5000};
    ProcessStarter startProcess = startDetachedProcess;
    qint64 started = 0;
};
