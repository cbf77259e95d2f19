#include "software/connectionmanager.h"
#include "software/recovery.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <sys/stat.h>

using namespace std::chrono_literals;
using Tree = QList<QPair<QString, QByteArray>>;

namespace {

// Runs every line for real but the ones that ask after or stop the
// connection manager, which it counts and answers as if it ran.
class ManagerRunner final : public ShellRunner {
public:
    ManagerRunner() { setShellRunner(this); }
    ~ManagerRunner() override { setShellRunner(nullptr); }
    int run(const QString& line) override
    {
        if (!line.startsWith("pidof ") && !line.startsWith("kill "))
            return std::system(line.toLocal8Bit().constData());
        stops += line.startsWith("kill -9 ") ? 1 : 0;
        return 0;
    }
    int stops = 0;
};

const QByteArray hook = "#!/bin/sh\necho ran >> \"${0%/*}/hook.log\"\n";

} // namespace

// What a start finds after an interrupted install, and what it leaves: the
// installation whole, the private data back, a hook run at most once, the
// connection manager stopped before and started after.
class TestRecovery final : public QObject {
    Q_OBJECT

private slots:
    void interruptedInstallIsRecovered_data();
    void interruptedInstallIsRecovered();
    void hookIsStoppedAfterItsTime();
};

void TestRecovery::interruptedInstallIsRecovered_data()
{
    QTest::addColumn<Tree>("found");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<Tree>("left"); // an empty content: the entry is gone
    // The connection manager made set-user-id: it is the new one, or a cut
    // came after the journal's phase had gone.
    QTest::addColumn<bool>("setUserId");

    const Tree pendingData{{"/Data/contact.xml", "package default"},
                           {"/.private_data_bak/contact.xml", "the user's"}};
    QTest::newRow("nothing") << Tree{{"/a.txt", "a"}} << "nothing to recover"
                             << Tree{{"/a.txt", "a"}} << false;
    QTest::newRow("marker without journal")
        << pendingData + Tree{{"/updatebak.ini", "NEED_RETURN=1\n"}}
        << "interrupted install cleaned up, nothing was replaced"
        << Tree{{"/Data/contact.xml", "the user's"}, {"/.private_data_bak", {}}} << true;
    QTest::newRow("cut before the hook")
        << pendingData + Tree{{"/.install_journal/phase", "copied\n"}, {"/finish.sh", hook}}
        << "interrupted install completed"
        << Tree{{"/Data/contact.xml", "the user's"}, {"/hook.log", "ran\n"}, {"/finish.sh", {}}}
        << true;
    // The trees the run unpacked or rebuilt are a base for nothing; the kept one stays.
    QTest::newRow("cut in the hook") << Tree{{"/.install_journal/phase", "hook-started\n"},
                                             {"/finish.sh", hook},
                                             {"/.unpacked_package/a.txt", "new a"},
                                             {"/.delta_rebuild/a.txt", "new a"},
                                             {"/.installed_package/a.txt", "old a"}}
                                     << "interrupted install completed"
                                     << Tree{{"/hook.log", {}},
                                             {"/finish.sh", {}},
                                             {"/.unpacked_package", {}},
                                             {"/.delta_rebuild", {}},
                                             {"/.installed_package/a.txt", "old a"}}
                                     << true;
    // The same bytes as the backup, not the same file: nothing to put back.
    QTest::newRow("unchanged entry")
        << Tree{{"/.install_journal/phase", "backed-up\n"},
                {"/.install_journal/replaced", QByteArray("a.txt\0", 6)},
                {"/.install_journal/added", QByteArray("new.txt\0", 8)},
                {"/bak/a.txt", "a"},
                {"/a.txt", "a"},
                {"/new.txt", "added"}}
        << "interrupted install rolled back" << Tree{{"/a.txt", "a"}, {"/new.txt", {}}} << false;
    // Not yet proven to run: put back, with the user's data as they are now
    // and without a hook.
    QTest::newRow("cut in the watch")
        << Tree{{"/.install_journal/phase", "watching\n"},
                {"/.install_journal/replaced", QByteArray("a.txt\0", 6)},
                {"/.install_journal/added", QByteArray("new.txt\0", 8)},
                {"/bak/a.txt", "old a"},
                {"/a.txt", "new a"},
                {"/new.txt", "added"},
                {"/Data/contact.xml", "the user's now"},
                {"/finish.sh", hook}}
        << "interrupted install rolled back"
        << Tree{{"/a.txt", "old a"},
                {"/new.txt", {}},
                {"/Data/contact.xml", "the user's now"},
                {"/hook.log", {}}}
        << false;
    QTest::newRow("backup lost") << Tree{{"/updatebak.ini", "NEED_RETURN=1\n"},
                                         {"/.install_journal/phase", "backed-up\n"},
                                         {"/.install_journal/replaced", QByteArray("a.txt\0", 6)},
                                         {"/.install_journal/added", ""},
                                         {"/a.txt", "new"}}
                                 << "interrupted install not fully restored, backup kept"
                                 << Tree{{"/a.txt", "new"},
                                         {"/updatebak.ini", "NEED_RETURN=1\n"},
                                         {"/.install_journal/recovery-failed", "failed\n"}}
                                 << false;
    // Tried once at a start already: only the boot's recovery tries again.
    QTest::newRow("failed before")
        << Tree{{"/updatebak.ini", "NEED_RETURN=1\n"},
                {"/.install_journal/phase", "backed-up\n"},
                {"/.install_journal/recovery-failed", "failed\n"}}
        << "nothing to recover" << Tree{{"/.install_journal/phase", "backed-up\n"}} << false;
}

void TestRecovery::interruptedInstallIsRecovered()
{
    QFETCH(Tree, found);
    QFETCH(QString, outcome);
    QFETCH(Tree, left);
    QFETCH(bool, setUserId);
    QTemporaryDir dir;
    const QString base = dir.path();
    writeTree(base, found);
    writeExecutable(base + "/Kestrel", "#!/bin/sh\n");
    ManagerRunner runner;
    ConnectionManager manager(base, "Kestrel", "0");
    manager.setStopPause(0ms);
    QStringList started;
    manager.setProcessStarter([&](const QString& program, const QString&) {
        started << program;
        return true;
    });

    const RecoveryOutcome result = recoverInterruptedInstall(base, "Kestrel", manager, false);

    QCOMPARE(QString(recoveryText(result)), outcome);
    struct stat info {};
    QVERIFY(::stat(QFile::encodeName(base + "/Kestrel").constData(), &info) == 0);
    QCOMPARE((info.st_mode & S_ISUID) != 0, setUserId);
    for (const auto& [name, content] : left) {
        QCOMPARE(QFileInfo::exists(base + name), !content.isEmpty());
        if (!content.isEmpty() && QFileInfo(base + name).isFile())
            QCOMPARE(readFile(base + name), content);
    }
    QCOMPARE(QFileInfo::exists(base + "/.install_journal"),
             found.contains({"/.install_journal/recovery-failed", "failed\n"}) ||
                 result == InstallTransaction::Recovery::BackupKept);
    // Stopped only when something was to change, and always started again:
    // its executable is the previous one.
    QCOMPARE(runner.stops, result ? 1 : 0);
    QCOMPARE(started, result ? QStringList{base + "/Kestrel"} : QStringList{});
}

// A hook that would never end, and what it started behind its back, are
// stopped after the hook time; the recovery then ends as completed.
void TestRecovery::hookIsStoppedAfterItsTime()
{
    QTemporaryDir dir;
    const QString base = dir.path();
    writeTree(base, {{"/.install_journal/phase", "copied\n"}});
    writeExecutable(base + "/finish.sh", "#!/bin/sh\nsleep 60 &\necho $! > \"${0%/*}/child\"\n"
                                         "sleep 60\necho late > \"${0%/*}/hook.log\"\n");
    writeExecutable(base + "/Kestrel", "#!/bin/sh\n");
    ManagerRunner runner;
    ConnectionManager manager(base, "Kestrel", "0");
    manager.setStopPause(0ms);
    QElapsedTimer clock;
    clock.start();

    const RecoveryOutcome result = recoverInterruptedInstall(base, "Kestrel", manager, true, 1s);

    QVERIFY2(clock.elapsed() < 5000, QByteArray::number(clock.elapsed()));
    QCOMPARE(QString(recoveryText(result)), QString("interrupted install completed"));
    QVERIFY(!QFileInfo::exists(base + "/hook.log"));
    const QByteArray child = readFile(base + "/child").trimmed();
    QVERIFY(!child.isEmpty());
    // Gone, or a zombie its new parent has not reaped yet.
    const auto running = [&child] {
        const QByteArray stat = readFile("/proc/" + QString(child) + "/stat");
        return stat.startsWith(child + " (") && stat.at(stat.lastIndexOf(')') + 2) != 'Z';
    };
    QTRY_VERIFY(!running());
}

QTEST_GUILESS_MAIN(TestRecovery)
#include "tst_recovery.moc"
