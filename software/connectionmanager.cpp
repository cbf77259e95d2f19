#include "software/connectionmanager.h"

#include "base/installation.h"
#include "base/shell.h"
#include "packages/plainfilename.h"
#include "software/healthwatch.h"
#include "software/installedfile.h"

#include <QFileInfo>
#include <QProcess>

#include <optional>
#include <thread>

namespace {

// "kill 0" would signal the updater's own process group, so only a real
// process id is accepted.
std::optional<int> dialerPid(const QString& wvdial)
{
    if (wvdial.isEmpty())
        return std::nullopt;
    for (const QChar c : wvdial) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool fits = false;
    const int pid = wvdial.toInt(&fits);
    if (!fits || pid <= 0)
        return std::nullopt;
    return pid;
}

// Inside `...` the shell consumes \ and ` before it sees any quotes, so both
// are escaped once more for the command to arrive unchanged.
QString backquoted(const QString& command)
{
    QString escaped = command;
    escaped.replace('\\', QLatin1String("\\\\")).replace('`', QLatin1String("\\`"));
    return '`' + escaped + '`';
}

// Not through a link: the package may have made the connection manager one.
bool isExecutableFile(const QString& path)
{
    return isRegularFileNoFollow(path) && QFileInfo(path).isExecutable();
}

} // namespace

qint64 startDetachedProcess(const QString& program, const QString& workingDirectory)
{
    QProcess process;
    process.setProgram(program);
    process.setWorkingDirectory(workingDirectory);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    return process.startDetached(&pid) ? pid : 0;
}

ConnectionManager::ConnectionManager(QString basePath, QString cmName, QString wvdial)
    : basePath(std::move(basePath)), cmName(std::move(cmName)), wvdial(std::move(wvdial))
{
}

bool ConnectionManager::running() const
{
    return isPlainExecutableName(cmName) &&
           executeShellChecked("pidof " + shellQuote(cmName) + " >/dev/null");
}

void ConnectionManager::stop()
{
    if (const std::optional<int> pid = dialerPid(wvdial))
        executeShell("kill " + QString::number(*pid));
    kill();
    executeShell("rm -rf /dev/ttyUSB1");
}

void ConnectionManager::kill()
{
    if (isPlainExecutableName(cmName))
        executeShell("kill -9 " + backquoted("pidof " + shellQuote(cmName)));
    std::this_thread::sleep_for(stopPause);
}

void ConnectionManager::start()
{
    const QString program = basePath + '/' + cmName;
    if (isPlainExecutableName(cmName) && isExecutableFile(program))
        started = startProcess(program, basePath);
}

bool ConnectionManager::startedRunning() const
{
    return !managerProcesses(basePath + '/' + cmName, started).isEmpty();
}

// Only what this updater started: a namesake of someone else's is left alone,
// and with nothing left to stop no line runs at all.
void ConnectionManager::killStarted()
{
    QString pids;
    for (const qint64 pid : managerProcesses(basePath + '/' + cmName, started))
        pids += ' ' + QString::number(pid);
    if (pids.isEmpty())
        return;
    executeShell("kill -9" + pids);
    std::this_thread::sleep_for(stopPause);
}
