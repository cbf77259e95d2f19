#include "software/healthwatch.h"

#include "base/installation.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <signal.h>
#include <unistd.h>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// When a fake process is alive: [from, to) in milliseconds of watch time.
using Lifetimes = QList<QPair<int, int>>;

class TestHealthWatch : public QObject {
    Q_OBJECT

private slots:
    void decides_data();
    void decides();
    void healthTimeSetting();
    void countsOnlyWhatItStarted_data();
    void countsOnlyWhatItStarted();
};

namespace {

// A process in a group of its own, so that it and whatever it starts end together.
class Running final {
public:
    Running(const QString& program, const QStringList& arguments, uid_t user)
    {
        process.setProgram(program);
        process.setArguments(arguments);
        process.setChildProcessModifier([user] {
            ::setpgid(0, 0);
            if (user != 0 &&
                (::setresgid(user, user, user) != 0 || ::setresuid(user, user, user) != 0))
                ::_exit(127);
        });
        process.start();
        process.waitForStarted();
    }
    ~Running()
    {
        ::kill(-qint64(process.processId()), SIGKILL);
        process.waitForFinished();
    }
    qint64 pid() const { return process.processId(); }

private:
    QProcess process;
};

} // namespace

void TestHealthWatch::decides_data()
{
    QTest::addColumn<Lifetimes>("alive");
    QTest::addColumn<bool>("passes");
    QTest::addColumn<int>("watchedUntil"); // ms of watch time when it decided

    constexpr int endless = 1000000;
    QTest::newRow("runs throughout") << Lifetimes{{0, endless}} << true << 30000;
    QTest::newRow("exits at once") << Lifetimes{} << false << 0;
    QTest::newRow("exits half-way") << Lifetimes{{0, 15000}} << false << 15000;
    QTest::newRow("exits just before the end") << Lifetimes{{0, 29900}} << false << 30000;
    QTest::newRow("disappears and comes back")
        << Lifetimes{{0, 10100}, {10600, endless}} << false << 10250;
}

void TestHealthWatch::decides()
{
    QFETCH(Lifetimes, alive);
    QFETCH(bool, passes);
    QFETCH(int, watchedUntil);
    milliseconds now{0};
    milliseconds longestPause{0};
    HealthWatch watch(30s, [&] {
        return std::any_of(alive.begin(), alive.end(), [&](const QPair<int, int>& life) {
            return now >= milliseconds(life.first) && now < milliseconds(life.second);
        });
    });
    watch.setSleep([&](milliseconds pause) {
        now += pause;
        longestPause = std::max(longestPause, pause);
    });

    QCOMPARE(watch.passes(), passes);
    QCOMPARE(now.count(), watchedUntil);
    QVERIFY(longestPause <= 1s);
}

void TestHealthWatch::healthTimeSetting()
{
    for (const QByteArray good : {"0", "3", "600"})
        QCOMPARE(::healthTimeSetting(good).count(), good.toInt());
    for (const QByteArray bad : {"", "601", "-1", "5s", " 5", "0x10", "99999999999"})
        QCOMPARE(::healthTimeSetting(bad).count(), 30);
}

void TestHealthWatch::countsOnlyWhatItStarted_data()
{
    // "@" stands for a directory with the installation "@/inst" and a user's "@/home".
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<uid_t>("user");
    QTest::addColumn<bool>("startedByTheUpdater");
    QTest::addColumn<int>("counted");

    const QStringList sleep{"30"};
    const QStringList launch{"-c", "@/home/Kestrel 30; :"};
    QTest::newRow("the installed manager") << "@/inst/Kestrel" << sleep << uid_t(0) << false << 1;
    QTest::newRow("another user's namesake")
        << "@/home/Kestrel" << sleep << uid_t(65534) << false << 0;
    QTest::newRow("root's own namesake") << "@/home/Kestrel" << sleep << uid_t(0) << false << 0;
    QTest::newRow("a launcher and its child") << "/bin/sh" << launch << uid_t(0) << true << 2;
    QTest::newRow("a launcher started by someone else")
        << "/bin/sh" << launch << uid_t(0) << false << 0;
}

void TestHealthWatch::countsOnlyWhatItStarted()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(uid_t, user);
    QFETCH(bool, startedByTheUpdater);
    QFETCH(int, counted);
    if (user != 0 && ::getuid() != 0)
        QSKIP("running a process as another user needs root");
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("inst")) && QDir().mkpath(dir.filePath("home")));
    QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther));
    for (const char* copy : {"inst/Kestrel", "home/Kestrel"})
        QVERIFY(QFile::copy("/bin/sleep", dir.filePath(copy)));
    arguments.replaceInStrings("@", dir.path());
    const Running running(program.replace('@', dir.path()), arguments, user);
    QVERIFY(running.pid() > 0);

    // The process table catches up with the exec and the launcher's fork.
    QList<qint64> found;
    for (int tries = 0; tries < 25; ++tries) {
        found =
            managerProcesses(dir.filePath("inst/Kestrel"), startedByTheUpdater ? running.pid() : 0);
        if (found.size() >= counted && counted > 0)
            break;
        QTest::qWait(20);
    }
    QCOMPARE(found.size(), counted);
}

QTEST_MAIN(TestHealthWatch)
#include "tst_healthwatch.moc"
