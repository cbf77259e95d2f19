// What a local user can try against the installed updater, which runs as root
// but is started from the user's session: each attack class is tried for real
// in the sandbox and must get nothing.
#include "sandbox.h"
#include "updatesource.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

namespace {

const UpdateSource::Tree newSoftware = {
    {"Kestrel", "#!/bin/sh\necho 2.0 > restarted\n"},
    {"a.txt", "new a\n"},
};

// A command of the user's, found first in a hostile PATH: it leaves a trace.
QByteArray trapScript(const QString& traces)
{
    return "#!/bin/sh\necho \"$0 $*\" >> '" + traces.toUtf8() + "'\n";
}

mode_t modeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}

} // namespace

class AttackEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void hostileEnvironmentRunsNothingOfTheUser();
    void craftedJournalTouchesNothing_data();
    void craftedJournalTouchesNothing();
    void packageLinkChainReachesNothingOutside();
    void setUserIdStartTakesNothingOfTheCaller_data();
    void setUserIdStartTakesNothingOfTheCaller();

private:
    static void prepare(Sandbox& sandbox, UpdateSource& source);
    static Sandbox::Result update(Sandbox& sandbox, const QString& before = {});
};

void AttackEndToEndTest::prepare(Sandbox& sandbox, UpdateSource& source)
{
    writeTree(sandbox.installation(), {{"a.txt", "old a\n"}});
    QVERIFY(QFile::copy("/bin/sleep", sandbox.path("Kestrel")));
    sandbox.writeSettings(source.url());
    sandbox.setEnv("AUTOPILOT_TICK", "0");
    sandbox.setEnv("AUTOPILOT_BACKUP", "no");
    sandbox.setEnv("AUTOPILOT_NO_PAUSE", "1");
}

Sandbox::Result AttackEndToEndTest::update(Sandbox& sandbox, const QString& before)
{
    return sandbox.run(before + "./Kestrel 600 & LD_PRELOAD='" AUTOPILOT_LIB "' ./cmupdater\n"
                                "for i in 1 2 3 4 5 6 7 8 9 10; do\n"
                                "  test -e restarted && break; sleep 0.2\n"
                                "done\n",
                       120000);
}

// A hostile PATH, umask 000 and a stale marker: no command of the user's
// runs, and what the updater leaves on disk is writable by nobody else.
void AttackEndToEndTest::hostileEnvironmentRunsNothingOfTheUser()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    source.addSoftware("sw.zip", newSoftware);
    source.publish();
    prepare(sandbox, source);
    const QString traces = sandbox.scratch("traces");
    const QString trapDir = sandbox.scratch("bin");
    for (const char* tool :
         {"rm", "kill", "pidof", "unzip", "cp", "xargs", "chmod", "mkdir", "sync", "ln"}) {
        sandbox.writeFile(trapDir + '/' + tool, trapScript(traces));
        QVERIFY(QFile::setPermissions(trapDir + '/' + tool,
                                      QFileDevice::ExeOwner | QFileDevice::ReadOwner));
    }
    sandbox.writeFile(sandbox.path("updatebak.ini"), "NEED_RETURN=1\n");
    const QString hostile = "umask 000\nexport PATH='" + trapDir + "':$PATH IFS=' ' BASH_ENV='" +
                            trapDir + "/sh' ENV='" + trapDir + "/sh'\n";

    // The stale marker makes this start a recovery alone; the next one updates.
    update(sandbox, hostile);
    QVERIFY(!QFileInfo::exists(sandbox.path("updatebak.ini")));
    // With the private data saved too, cut after the backup: the work files
    // are all on disk then.
    sandbox.setEnv("AUTOPILOT_BACKUP", "yes");
    sandbox.setEnv("AUTOPILOT_KILL_AFTER", "7");
    update(sandbox, hostile);

    QVERIFY2(!QFileInfo::exists(traces), sandbox.readFile(traces).constData());
    QVERIFY(QFileInfo::exists(sandbox.path(".install_journal/replaced")));
    for (const char* dir : {"download", "bak", ".install_journal", ".private_data_bak"})
        QCOMPARE(modeOf(sandbox.path(dir)) & 07777, mode_t(0700));
    QDirIterator entries(sandbox.installation(),
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        QVERIFY2((modeOf(path) & (S_IWGRP | S_IWOTH)) == 0 || S_ISLNK(modeOf(path)),
                 qPrintable(path));
    }
}

void AttackEndToEndTest::craftedJournalTouchesNothing_data()
{
    QTest::addColumn<QByteArray>("added");    // the "added" list
    QTest::addColumn<QByteArray>("replaced"); // the "replaced" list
    QTest::addColumn<mode_t>("listMode");

    QTest::newRow("names leading out")
        << QByteArray("../victim\0", 10) << QByteArray("../payload\0", 11) << mode_t(0600);
    QTest::newRow("absolute names")
        << QByteArray("/tmp/../victim\0", 15) << QByteArray() << mode_t(0600);
    QTest::newRow("empty name") << QByteArray("a.txt\0\0a.txt\0", 13) << QByteArray()
                                << mode_t(0600);
    QTest::newRow("list writable by others")
        << QByteArray("a.txt\0", 6) << QByteArray() << mode_t(0666);
}

// A journal the updater did not write is left alone, with one warning line.
void AttackEndToEndTest::craftedJournalTouchesNothing()
{
    QFETCH(QByteArray, added);
    QFETCH(QByteArray, replaced);
    QFETCH(mode_t, listMode);
    Sandbox sandbox;
    sandbox.writeSettings("file:///nowhere", "IMEI_ID=\n");
    writeTree(sandbox.installation(), {{"a.txt", "installed a\n"}, {"payload", "payload\n"}});
    sandbox.writeFile(sandbox.scratch("victim"), "victim\n");
    const QString journal = sandbox.path(".install_journal");
    sandbox.writeFile(journal + "/phase", "backed-up\n");
    sandbox.writeFile(journal + "/added", added);
    sandbox.writeFile(journal + "/replaced", replaced);
    QVERIFY(::chmod(QFile::encodeName(journal).constData(), 0700) == 0);
    QVERIFY(::chmod(QFile::encodeName(journal + "/added").constData(), listMode) == 0);
    sandbox.writeFile(sandbox.path("updatebak.ini"), "NEED_RETURN=1\n");

    const Sandbox::Result result = sandbox.run("./cmupdater");

    QVERIFY2(result.err.contains("interrupted install left alone"), result.err.constData());
    QCOMPARE(sandbox.readFile(sandbox.scratch("victim")), QByteArray("victim\n"));
    QVERIFY(!QFileInfo::exists(sandbox.scratch("payload")));
    QCOMPARE(sandbox.readFile(sandbox.path("a.txt")), QByteArray("installed a\n"));
    QVERIFY(QFileInfo::exists(journal + "/added"));
    QVERIFY(QFileInfo::exists(sandbox.path("updatebak.ini")));
    // The administrator's recovery says so in its status, and the history keeps it.
    const Sandbox::Result recovery = sandbox.run("./cmupdater --recover");
    QCOMPARE(recovery.exitCode, 3);
    QCOMPARE(sandbox.readFile(sandbox.path("a.txt")), QByteArray("installed a\n"));
    QVERIFY(QFileInfo::exists(journal + "/added"));
    // Both refusals are the same outcome: one record, counted twice.
    const QByteArray history = sandbox.readFile(sandbox.path("update-history.jsonl"));
    QCOMPARE(history.count(R"("result":"refused")"), 1);
    QVERIFY2(history.contains(R"("count":2)"), history.constData());
}

// A package whose links chain out of the installation and name the
// connection manager: the links are installed as links, and nothing outside
// is made set-user-id or run.
void AttackEndToEndTest::packageLinkChainReachesNothingOutside()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    source.addSoftware("sw.zip", {{"a.txt", "new a\n"}});
    const QString tree = sandbox.scratch("chain");
    writeTree(tree, {{"a.txt", "new a\n"}});
    // a is the installation, p1 its parent, where the victim lies.
    for (const auto& [link, target] :
         {std::pair{"a", "."}, {"p1", "a/.."}, {"Kestrel", "p1/victim-bin"}})
        QVERIFY(QFile::link(target, tree + '/' + link));
    QFile::remove(source.packagePath("sw.zip"));
    QProcess zip;
    zip.setWorkingDirectory(tree);
    zip.start("sh", {"-c", "zip -q -r -y \"$0\" .", source.packagePath("sw.zip")});
    QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
    source.publish();
    prepare(sandbox, source);
    const QString victim = sandbox.scratch("victim-bin");
    sandbox.writeFile(victim, "#!/bin/sh\necho ran > '" + victim.toUtf8() + ".ran'\n");
    QVERIFY(::chmod(QFile::encodeName(victim).constData(), 0755) == 0);

    update(sandbox);

    QCOMPARE(sandbox.readFile(sandbox.path("a.txt")), QByteArray("new a\n"));
    QVERIFY(S_ISLNK(modeOf(sandbox.path("Kestrel"))));
    QCOMPARE(modeOf(victim) & 07777, mode_t(0755));
    QVERIFY(!QFileInfo::exists(victim + ".ran"));
}

void AttackEndToEndTest::setUserIdStartTakesNothingOfTheCaller_data()
{
    QTest::addColumn<QString>("caller");     // shell lines of the caller's, before the start
    QTest::addColumn<QString>("authority");  // XAUTHORITY, in the scratch directory
    QTest::addColumn<QByteArray>("dropped"); // why XAUTHORITY is dropped; empty when kept
    QTest::addColumn<QString>("options");    // the launcher's

    const QByteArray cannotOpen = "the caller cannot open it";
    QTest::newRow("authority a root-only FIFO") << ""
                                                << "fifo" << cannotOpen << "";
    QTest::newRow("authority a device") << ""
                                        << "device" << cannotOpen << "";
    QTest::newRow("authority in a closed directory") << ""
                                                     << "closed/cookie" << cannotOpen << "";
    QTest::newRow("the caller's own authority") << ""
                                                << "cookie" << QByteArray() << "";
    // Soft limits: the sandbox's root cannot raise a hard one (no CAP_SYS_RESOURCE).
    QTest::newRow("limits") << "ulimit -S -f 8; ulimit -S -n 16; ulimit -S -t 100"
                            << "" << QByteArray() << "";
    QTest::newRow("SIGCHLD and SIGXFSZ ignored") << "trap '' CHLD XFSZ"
                                                 << "" << QByteArray() << "";
    QTest::newRow("SIGTERM blocked") << ""
                                     << "" << QByteArray() << "--block 15";
    QTest::newRow("working directory") << "cd ../home"
                                       << "" << QByteArray() << "";
    QTest::newRow("descriptor 9") << "exec 9>../home/nine"
                                  << "" << QByteArray() << "";
    QTest::newRow("all at once") << "cd ../home; exec 9>nine; trap '' CHLD XFSZ; ulimit -S -f 8"
                                 << "fifo" << cannotOpen << "--block 15";
}

// What the caller of the set-user-id connection manager controls reaches
// neither root's opens nor the update nor the package's hook: the whole update
// installs, and the hook sees root's limits, signals and descriptors and runs
// in the installation.
void AttackEndToEndTest::setUserIdStartTakesNothingOfTheCaller()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer runtime cannot be preloaded into every process of the sandbox");
#endif
    QFETCH(QString, caller);
    QFETCH(QString, authority);
    QFETCH(QByteArray, dropped);
    QFETCH(QString, options);
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    UpdateSource::Tree package = newSoftware;
    package["finish.sh"] =
        "#!/bin/sh\n"
        "{ ulimit -f; ulimit -n; ulimit -t; pwd; grep '^Sig[BI]' /proc/$$/status\n"
        "  test -e /proc/$$/fd/9 && echo descriptor 9\n"
        "  cat \"$XAUTHORITY\"; } > hook.state\n";
    source.addSoftware("sw.zip", package);
    source.publish();
    prepare(sandbox, source);
    sandbox.setMounts(sandbox.etcPreloading(AUTOPILOT_LIB));
    // The user (65534) reaches the scratch directory and owns home/ and cookie.
    const QString scratch = sandbox.scratch("");
    QVERIFY(::chmod(QFile::encodeName(scratch).constData(), 0711) == 0);
    sandbox.writeFile(scratch + "/cookie", "caller's cookie\n");
    sandbox.writeFile(scratch + "/closed/cookie", "caller's cookie\n");
    QVERIFY(::chmod(QFile::encodeName(scratch + "/closed").constData(), 0700) == 0);
    QVERIFY(QDir(scratch).mkdir("home"));
    for (const char* owned : {"/cookie", "/closed/cookie", "/home"})
        QVERIFY(::chown(QFile::encodeName(scratch + owned).constData(), 65534, 65534) == 0);
    if (!authority.isEmpty())
        sandbox.setEnv("XAUTHORITY", scratch + '/' + authority);

    // A writer on the root-only FIFO gets past its open only when a reader opens it.
    const Sandbox::Result run = sandbox.run(
        "cd '" + scratch +
            "' && mkfifo -m 0600 fifo && mknod -m 0600 device c 1 3 || exit 9\n"
            "(exec 3>fifo; echo opened > fifo.opened) &\n"
            "cd '" +
            sandbox.installation() +
            "' && ./Kestrel 600 &\n"
            "(cd '" +
            sandbox.installation() + "'; " + caller + "\nexec '" SETUID_START "' " + options +
            " 65534 '" + sandbox.path("cmupdater") +
            "')\n"
            "echo $? > '" +
            scratch +
            "/updater.rc'\n"
            "for i in 1 2 3 4 5 6 7 8 9 10; do test -e restarted && break; sleep 0.2; done\n",
        120000);

    QVERIFY2(run.finished, run.err.constData());
    QVERIFY2(sandbox.readFile(scratch + "/updater.rc") == "0\n", run.err.constData());
    QCOMPARE(sandbox.readFile(sandbox.path("a.txt")), QByteArray("new a\n"));
    QCOMPARE(sandbox.readFile(sandbox.path("restarted")), QByteArray("2.0\n"));
    QVERIFY(!QFileInfo::exists(scratch + "/fifo.opened"));
    QCOMPARE(run.err.contains("XAUTHORITY dropped: " + dropped), !dropped.isEmpty());
    const QByteArray cookie = dropped.isEmpty() && !authority.isEmpty() ? "caller's cookie\n" : "";
    QList<QByteArray> state = sandbox.readFile(sandbox.path("hook.state")).split('\n');
    QVERIFY(state.size() > 5 && state[5].startsWith("SigIgn:\t"));
    // Of the standard signals none is ignored; glibc's own (32, 33) do not count.
    QCOMPARE(state[5].mid(8).toULongLong(nullptr, 16) & 0x7fffffffU, 0U);
    state.removeAt(5);
    QCOMPARE(state.join('\n'), "unlimited\n1024\nunlimited\n" +
                                   QFile::encodeName(sandbox.installation()) +
                                   "\nSigBlk:\t0000000000000000\n" + cookie);
    QCOMPARE(QDir(scratch + "/home").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             caller.contains("nine") ? QStringList{"nine"} : QStringList());
}

QTEST_GUILESS_MAIN(AttackEndToEndTest)
#include "tst_attack_e2e.moc"
