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

QTEST_GUILESS_MAIN(AttackEndToEndTest)
#include "tst_attack_e2e.moc"
