// Preloaded into the updater: a 5 ms timer on the GUI thread records how long
// its event loop goes without running it, and the process's peak resident memory
// as it grows. The updater ends with _exit(), so every finding is written to
// GUIWATCH_OUT at once, one line per write:
//   loop  at=MS                 the event loop ran the first tick
//   gap   ms=MS at=MS           a new longest interval between ticks, ending at MS
//   hwm   kib=KIB at=MS         a new peak resident size (VmHWM)
//   log   at=MS TEXT            a diagnostic line of the updater's, for the timeline
// Times are milliseconds since the application object was made.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int TickMs = 5;
constexpr int TicksPerMemorySample = 20;

int out = -1;
QElapsedTimer clock;
QtMessageHandler previousHandler = nullptr;

double nowMs()
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

void record(const QByteArray& line)
{
    if (out >= 0 && write(out, line.constData(), static_cast<size_t>(line.size())) < 0)
        out = -1;
}

QByteArray at(double ms)
{
    return " at=" + QByteArray::number(ms, 'f', 1);
}

long peakResidentKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

void sampleMemory()
{
    static long peak = 0;
    const long now = peakResidentKib();
    if (now > peak) {
        peak = now;
        record("hwm kib=" + QByteArray::number(now) + at(nowMs()) + '\n');
    }
}

void tick()
{
    static double last = -1;
    static double longest = 0;
    static int ticks = 0;
    const double now = nowMs();
    if (last < 0) {
        record("loop" + at(now) + '\n');
    } else if (now - last > longest) {
        longest = now - last;
        record("gap ms=" + QByteArray::number(longest, 'f', 1) + at(now) + '\n');
    }
    last = now;
    if (++ticks % TicksPerMemorySample == 1)
        sampleMemory();
}

void logMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    record("log" + at(nowMs()) + ' ' + text.toLocal8Bit() + '\n');
    previousHandler(type, context, text);
}

void startWatch()
{
    clock.start();
    out = open(qgetenv("GUIWATCH_OUT").constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
               0644);
    previousHandler = qInstallMessageHandler(logMessage);
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, tick);
    timer->start(TickMs);
    sampleMemory();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startWatch)
