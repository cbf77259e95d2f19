#include "software/healthwatch.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <utility>

namespace {

struct ProcessEntry {
    qint64 parent = 0;
    bool live = false;
};

// "/proc/PID/stat" is "PID (NAME) STATE PPID ...", and NAME itself may hold ") ".
std::optional<ProcessEntry> readStat(const QString& pid)
{
    QFile file("/proc/" + pid + "/stat");
    const QByteArray stat = file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
    const qsizetype close = stat.lastIndexOf(')');
    const QList<QByteArray> fields =
        close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
    if (fields.size() < 2 || fields[0].size() != 1)
        return std::nullopt;
    const char state = fields[0].at(0);
    return ProcessEntry{fields[1].toLongLong(), state != 'Z' && state != 'X'};
}

// Every process of the system by its id.
QHash<qint64, ProcessEntry> processTable()
{
    QHash<qint64, ProcessEntry> table;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool numeric = false;
        const qint64 id = pid.toLongLong(&numeric);
        if (const std::optional<ProcessEntry> entry = numeric ? readStat(pid) : std::nullopt)
            table.insert(id, *entry);
    }
    return table;
}

bool descends(const QHash<qint64, ProcessEntry>& table, qint64 pid, qint64 ancestor)
{
    // A bounded walk: the table is a snapshot, read while processes come and go.
    for (qsizetype step = 0; pid > 1 && step <= table.size(); ++step) {
        if (pid == ancestor)
            return true;
        pid = table.value(pid).parent;
    }
    return false;
}

bool sameFile(const QByteArray& path, const struct stat& file)
{
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && info.st_dev == file.st_dev &&
           info.st_ino == file.st_ino;
}

} // namespace

HealthWatch::HealthWatch(std::chrono::milliseconds duration, Check running)
    : duration(duration), running(std::move(running)),
      sleep([](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); })
{
}

void HealthWatch::setSleep(Sleep newSleep)
{
    sleep = std::move(newSleep);
}

bool HealthWatch::passes() const
{
    for (std::chrono::milliseconds waited{0};; waited += interval) {
        if (!running())
            return false;
        if (waited >= duration)
            return true;
        sleep(std::min(interval, duration - waited));
    }
}

QList<qint64> managerProcesses(const QString& program, qint64 started)
{
    struct stat installed {};
    const bool present = ::stat(QFile::encodeName(program).constData(), &installed) == 0;
    const QHash<qint64, ProcessEntry> table = processTable();
    QList<qint64> found;
    for (auto process = table.cbegin(); process != table.cend(); ++process) {
        if (!process->live)
            continue;
        // The executable the process runs, not the name it gives itself; and
        // init, 1, is never a process the updater started.
        const QByteArray exe = "/proc/" + QByteArray::number(process.key()) + "/exe";
        if ((present && sameFile(exe, installed)) ||
            (started > 1 && descends(table, process.key(), started)))
            found << process.key();
    }
    return found;
}
