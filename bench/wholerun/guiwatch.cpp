// Preloaded into the updater: a 5 ms timer on the GUI thread records how long
// its event loop goes without running it, and the process's peak resident memory
// as it grows. The updater ends with _exit(), so every finding is written to
// GUIWATCH_OUT at once, one line per write:
//   loop  at=MS                 the event loop ran the first tick
//   gap   ms=MS run=MS wait=MS at=MS
//                               a new longest interval between ticks, ending at
//                               MS; of it, the GUI thread ran for run and waited
//                               for a free core for wait (the rest it slept or
//                               was blocked)
//   hwm   kib=KIB at=MS         a new peak resident size (VmHWM)
//   log   at=MS TEXT            a diagnostic line of the updater's, or "list: TEXT"
//                               for a line added to a list widget (the update
//                               page's status lines), for the timeline
// Times are milliseconds since the application object was made.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int TickMs = 5;
constexpr int TicksPerMemorySample = 20;

int out = -1;
// Read when the library is loaded: the updater replaces its environment before
// it makes the application object.
const std::string outPath = [] {
    const char* path = std::getenv("GUIWATCH_OUT");
    return std::string(path != nullptr ? path : "");
}();
int schedstat = -1; // the GUI thread's run and run-queue wait times, in ns
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

QByteArray number(double ms)
{
    return QByteArray::number(ms, 'f', 1);
}

QByteArray at(double ms)
{
    return " at=" + number(ms);
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

struct SchedTimes {
    double runMs = 0;
    double waitMs = 0;
};

// The run time from the thread's CPU clock, which is up to date even while the
// thread runs; the wait from the scheduler's statistics, which count it when the
// thread gets a core.
SchedTimes schedTimes()
{
    timespec cpu{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    const double runMs =
        static_cast<double>(cpu.tv_sec) * 1e3 + static_cast<double>(cpu.tv_nsec) / 1e6;
    char text[128] = {};
    if (schedstat < 0 || pread(schedstat, text, sizeof text - 1, 0) <= 0)
        return {runMs, 0};
    return {runMs, QByteArray(text).split(' ').value(1).toDouble() / 1e6};
}

void tick()
{
    static double last = -1;
    static SchedTimes lastTimes;
    static double longest = 0;
    static int ticks = 0;
    const double now = nowMs();
    const SchedTimes times = schedTimes();
    if (last < 0) {
        record("loop" + at(now) + '\n');
    } else if (now - last > longest) {
        longest = now - last;
        record("gap ms=" + number(longest) + " run=" + number(times.runMs - lastTimes.runMs) +
               " wait=" + number(times.waitMs - lastTimes.waitMs) + at(now) + '\n');
    }
    last = now;
    lastTimes = times;
    if (++ticks % TicksPerMemorySample == 1)
        sampleMemory();
}

void logLine(const QString& text)
{
    record("log" + at(nowMs()) + ' ' + text.toLocal8Bit() + '\n');
}

void logMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    logLine(text);
    previousHandler(type, context, text);
}

void startWatch()
{
    clock.start();
    // Both preloaded libraries are in by now. Left set, LD_PRELOAD would load Qt
    // into every shell line the updater runs and make each one several times slower.
    unsetenv("LD_PRELOAD");
    out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    // Opened here, on the GUI thread, so that it names this thread.
    schedstat = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    previousHandler = qInstallMessageHandler(logMessage);
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, tick);
    timer->start(TickMs);
    sampleMemory();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startWatch)

// QListWidget::insertItem(int, const QString&), behind addItem(const QString&):
// logged, then passed on.
extern "C" void _ZN11QListWidget10insertItemEiRK7QString(void* self, int row, const QString& label)
{
    using Insert = void (*)(void*, int, const QString&);
    static const auto insert = reinterpret_cast<Insert>(dlsym(RTLD_NEXT, __func__));
    logLine("list: " + label);
    insert(self, row, label);
}
