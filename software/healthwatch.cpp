#include "software/healthwatch.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <thread>
#include <utility>

namespace {

constexpr int commLength = 15; // the kernel keeps this many bytes of a process name

QByteArray readProcFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

// "/proc/PID/stat" is "PID (NAME) STATE ...", and NAME itself may hold ") ".
bool liveWithComm(const QByteArray& stat, const QByteArray& comm)
{
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open || close + 2 >= stat.size())
        return false;
    const char state = stat.at(close + 2);
    return state != 'Z' && state != 'X' && stat.mid(open + 1, close - open - 1) == comm;
}

QByteArray programName(const QByteArray& cmdline)
{
    const QByteArray first = cmdline.left(cmdline.indexOf('\0'));
    return first.mid(first.lastIndexOf('/') + 1);
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

std::chrono::seconds healthTimeSetting(const QByteArray& text)
{
    constexpr int defaultSeconds = 30;
    constexpr int maximumSeconds = 600;
    bool number = !text.isEmpty();
    for (const char c : text)
        number = number && c >= '0' && c <= '9';
    const int seconds = number && text.size() <= 3 ? text.toInt() : -1;
    if (seconds < 0 || seconds > maximumSeconds) {
        qWarning("HEALTH_TIME: \"%s\" is not a number of seconds from 0 to %d, %d is used",
                 text.constData(), maximumSeconds, defaultSeconds);
        return std::chrono::seconds(defaultSeconds);
    }
    return std::chrono::seconds(seconds);
}

bool processRunning(const QString& name)
{
    const QByteArray wanted = QFile::encodeName(name);
    if (wanted.isEmpty())
        return false;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool numeric = false;
        pid.toLong(&numeric);
        if (!numeric)
            continue;
        const QString dir = "/proc/" + pid;
        if (!liveWithComm(readProcFile(dir + "/stat"), wanted.left(commLength)))
            continue;
        // A longer name is cut in the process table; the command line has it whole.
        if (wanted.size() <= commLength || programName(readProcFile(dir + "/cmdline")) == wanted)
            return true;
    }
    return false;
}
