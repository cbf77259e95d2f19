#include "agent/LocalHttpServer.h"
#include "sandbox.h"
#include "updatesource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

namespace {

const UpdateSource::Tree newSoftware = {
    {"Kestrel", "#!/bin/sh\necho 2.0 > restarted\n"},
    {"a.txt", "new a\n"},
    {"sub/b.txt", "new b\n"},
    {"Data/contact.xml", "<contacts>from the package</contacts>\n"},
    {"finish.sh", "#!/bin/sh\necho ran >> finish.log\n"},
};

const UpdateSource::Tree installed = {
    {"a.txt", "old a\n"},
    {"keep.txt", "not in the package\n"},
    {"Data/contact.xml", "<contacts>the user's own</contacts>\n"},
    {"Data/sms.xml", "<sms>the user's own</sms>\n"},
};

const UpdateSource::Tree firmwareImage = {
    {"amss.mbn", QByteArray(70000, '\x5a') + "end"},
    {"efs/nv.bin", "nv items"},
};

} // namespace

// A whole update of the installed updater inside the sandbox: the real agent
// on a local file:// source, the wizard driven through its widgets, the
// connection manager a real process that must be stopped.
class UpdateEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void installsTheSoftwareKeepingPrivateData();
    void installsWhenStartedAsASetUserIdChild();
    void backupAnsweredNoTakesThePackagesData();
    void rollsBackAFailedCopy();
    void failedDownloadStopsNothing();
    void hostileNamesRunNothing();
    void flashesFirmwareBeforeTheSoftware();
    void deviceMismatchSkipsTheFlash();
    void downloadSurvivesTwoDrops();
    void updatesThroughTheDeltaOrTheFullPackage_data();
    void updatesThroughTheDeltaOrTheFullPackage();

private:
    struct Run {
        Sandbox::Result result;
        int status = -1;
    };
    static void prepare(Sandbox& sandbox, UpdateSource& source, const QByteArray& settings = {});
    static Run update(Sandbox& sandbox, const QString& ticks, const QString& backup,
                      bool withModem = false,
                      const QString& start = "LD_PRELOAD='" AUTOPILOT_LIB "' ./cmupdater");
    static void offerSoftware(Sandbox& sandbox, UpdateSource& source,
                              const UpdateSource::Tree& software);
    static void offerBoth(Sandbox& sandbox, UpdateSource& source,
                          const UpdateSource::Tree& software, const QByteArray& device);
    static QByteArray file(const Sandbox& sandbox, const QString& name);
    static void verifyWorkFilesGone(const Sandbox& sandbox);
};

void UpdateEndToEndTest::prepare(Sandbox& sandbox, UpdateSource& source, const QByteArray& settings)
{
    writeTree(sandbox.installation(), installed);
    QVERIFY(QFile::copy("/bin/sleep", sandbox.path("Kestrel")));
    sandbox.writeSettings(source.url(), settings);
}

UpdateEndToEndTest::Run UpdateEndToEndTest::update(Sandbox& sandbox, const QString& ticks,
                                                   const QString& backup, bool withModem,
                                                   const QString& start)
{
    sandbox.setEnv("AUTOPILOT_TICK", ticks);
    sandbox.setEnv("AUTOPILOT_BACKUP", backup);
    sandbox.setEnv("BKSERIAL_DEVICE", sandbox.scratch("modem"));
    const QString modem =
        withModem ? QString("'%1' --out '%2' --link '%3' &\n"
                            "while [ ! -e '%3' ]; do sleep 0.1; done\n")
                        .arg(MODEM_SIM, sandbox.scratch("received"), sandbox.scratch("modem"))
                  : QString();
    Run run;
    run.result = sandbox.run("touch /dev/ttyUSB1\n"
                             "./Kestrel 600 & cm=$!\n" +
                                 modem + start +
                                 "\n"
                                 "echo $? > updater.rc\n"
                                 "kill -0 $cm 2>/dev/null && echo alive > cm.state\n"
                                 "test -e /dev/ttyUSB1 && echo present > tty.state\n"
                                 "for i in 1 2 3 4 5 6 7 8 9 10; do\n"
                                 "  test -e restarted && break; sleep 0.2\n"
                                 "done\n",
                             120000);
    run.status = file(sandbox, "updater.rc").trimmed().toInt();
    QFile::remove(sandbox.path("updater.rc"));
    return run;
}

void UpdateEndToEndTest::offerSoftware(Sandbox& sandbox, UpdateSource& source,
                                       const UpdateSource::Tree& software)
{
    source.addSoftware("sw.zip", software);
    source.publish();
    prepare(sandbox, source);
}

void UpdateEndToEndTest::offerBoth(Sandbox& sandbox, UpdateSource& source,
                                   const UpdateSource::Tree& software, const QByteArray& device)
{
    source.addSoftware("sw.zip", software);
    source.addFirmware("fw.zip", firmwareImage);
    source.publish(device);
    prepare(sandbox, source);
}

QByteArray UpdateEndToEndTest::file(const Sandbox& sandbox, const QString& name)
{
    return sandbox.readFile(sandbox.path(name));
}

void UpdateEndToEndTest::verifyWorkFilesGone(const Sandbox& sandbox)
{
    for (const char* name : {"Description.xml", "UserSelection.xml", "updatebak.ini", "download",
                             "bak", ".private_data_bak", "finish.sh", "sw.zip"})
        QVERIFY2(!QFileInfo::exists(sandbox.path(name)), name);
}

void UpdateEndToEndTest::installsTheSoftwareKeepingPrivateData()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    offerSoftware(sandbox, source, newSoftware);
    const Run run = update(sandbox, "0", "yes");
    QVERIFY2(run.result.finished, run.result.err.constData());
    QCOMPARE(run.status, 0);
    QCOMPARE(file(sandbox, "a.txt"), QByteArray("new a\n"));
    QCOMPARE(file(sandbox, "sub/b.txt"), QByteArray("new b\n"));
    QCOMPARE(file(sandbox, "keep.txt"), QByteArray("not in the package\n"));
    QCOMPARE(file(sandbox, "Data/contact.xml"), installed["Data/contact.xml"]);
    QCOMPARE(file(sandbox, "Data/sms.xml"), installed["Data/sms.xml"]);
    QCOMPARE(file(sandbox, "finish.log"), QByteArray("ran\n"));
    verifyWorkFilesGone(sandbox);
    struct stat info {};
    QCOMPARE(stat(sandbox.path("Kestrel").toLocal8Bit().constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(04755));
    QCOMPARE(file(sandbox, "cm.state"), QByteArray()); // the old one was stopped
    QCOMPARE(file(sandbox, "tty.state"), QByteArray());
    QCOMPARE(file(sandbox, "restarted"), QByteArray("2.0\n")); // the new one runs
    QCOMPARE(run.result.out.count("\r\n"), 7);                 // nothing but the report on stdout
}

// Started as the set-user-id connection manager starts it, with the user's
// real ids: the updater becomes root in full, so the package's hook and the
// copy run as root, and the update ends as one started by root.
void UpdateEndToEndTest::installsWhenStartedAsASetUserIdChild()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer runtime cannot be preloaded into every process of the sandbox");
#endif
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    UpdateSource::Tree package = newSoftware;
    package["finish.sh"] = "#!/bin/sh\nid -u > hook.uid\nid -ru >> hook.uid\n";
    offerSoftware(sandbox, source, package);
    sandbox.setMounts(sandbox.etcPreloading(AUTOPILOT_LIB));
    const Run run = update(sandbox, "0", "yes", false, "'" SETUID_START "' 65534 ./cmupdater");
    QVERIFY2(run.result.finished, run.result.err.constData());
    QCOMPARE(run.status, 0);
    QCOMPARE(file(sandbox, "hook.uid"), QByteArray("0\n0\n"));
    QCOMPARE(file(sandbox, "a.txt"), QByteArray("new a\n"));
    QCOMPARE(file(sandbox, "Data/contact.xml"), installed["Data/contact.xml"]);
    struct stat info {};
    QCOMPARE(stat(sandbox.path("Kestrel").toLocal8Bit().constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(04755));
    QCOMPARE(file(sandbox, "restarted"), QByteArray("2.0\n"));
    QCOMPARE(run.result.out.count("\r\n"), 7);
    verifyWorkFilesGone(sandbox);
}

void UpdateEndToEndTest::backupAnsweredNoTakesThePackagesData()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    offerSoftware(sandbox, source, newSoftware);
    const Run run = update(sandbox, "0", "no");
    QCOMPARE(run.status, 0);
    QCOMPARE(file(sandbox, "Data/contact.xml"), newSoftware["Data/contact.xml"]);
    QCOMPARE(file(sandbox, "Data/sms.xml"), installed["Data/sms.xml"]);
    verifyWorkFilesGone(sandbox);
}

void UpdateEndToEndTest::rollsBackAFailedCopy()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    UpdateSource::Tree package = newSoftware;
    package["conflict"] = "a file where the installation has a directory";
    offerSoftware(sandbox, source, package);
    writeTree(sandbox.installation(), {{"conflict/inside.txt", "kept"}});
    const QByteArray oldKestrel = file(sandbox, "Kestrel");
    const Run run = update(sandbox, "0", "yes");
    QCOMPARE(run.status, 0);
    QCOMPARE(file(sandbox, "a.txt"), installed["a.txt"]);
    QCOMPARE(file(sandbox, "Kestrel"), oldKestrel);
    QCOMPARE(file(sandbox, "Data/contact.xml"), installed["Data/contact.xml"]);
    QCOMPARE(file(sandbox, "conflict/inside.txt"), QByteArray("kept"));
    QVERIFY(!QFileInfo::exists(sandbox.path("sub/b.txt")));
    QCOMPARE(file(sandbox, "finish.log"), QByteArray()); // no hook after a failed copy
    verifyWorkFilesGone(sandbox);
}

void UpdateEndToEndTest::failedDownloadStopsNothing()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    source.addSoftware("sw.zip", newSoftware);
    source.publish("RX481", true);
    prepare(sandbox, source);
    const Run run = update(sandbox, "0", "yes");
    QCOMPARE(run.status, 1);
    QCOMPARE(file(sandbox, "cm.state"), QByteArray("alive\n"));
    QCOMPARE(file(sandbox, "tty.state"), QByteArray("present\n"));
    QCOMPARE(file(sandbox, "a.txt"), installed["a.txt"]);
    verifyWorkFilesGone(sandbox);
}

void UpdateEndToEndTest::hostileNamesRunNothing()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    const QString hostile = "x'$(touch pwned)`touch pwned`;touch pwned.zip";
    source.addSoftware(hostile, newSoftware);
    source.publish();
    prepare(sandbox, source,
            "CM_NAME=Kestrel$(touch pwned)`touch pwned`\nWVDIAL=1$(touch pwned)\n");
    const Run run = update(sandbox, "0", "no");
    QCOMPARE(run.status, 0);
    QCOMPARE(file(sandbox, "a.txt"), QByteArray("new a\n"));
    QVERIFY(!QFileInfo::exists(sandbox.path(hostile)));
    const QStringList pwned = QDir(sandbox.scratch("")).entryList({"pwned*"}) +
                              QDir(sandbox.installation()).entryList({"pwned*"});
    QVERIFY2(pwned.isEmpty(), qPrintable(pwned.join(' ')));
    QCOMPARE(file(sandbox, "cm.state"), QByteArray("alive\n")); // no process of that name
}

void UpdateEndToEndTest::flashesFirmwareBeforeTheSoftware()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    UpdateSource::Tree software = newSoftware;
    // The hook runs after the flash: the image must be complete by then.
    software["finish.sh"] = "#!/bin/sh\ncmp -s ../received/amss.mbn ../expected.mbn "
                            "&& echo flashed > order.log\n";
    offerBoth(sandbox, source, software, "RX481");
    sandbox.writeFile(sandbox.scratch("expected.mbn"), firmwareImage["amss.mbn"]);
    // Left over by an interrupted run: must not reach the modem.
    writeTree(sandbox.path("download"), {{"stale.bin", "old"}});
    const Run run = update(sandbox, "0,1", "yes", true);
    QVERIFY2(run.result.finished, run.result.err.constData());
    QCOMPARE(run.status, 0);
    for (auto image = firmwareImage.begin(); image != firmwareImage.end(); ++image)
        QCOMPARE(sandbox.readFile(sandbox.scratch("received/" + image.key())), image.value());
    QVERIFY(!QFileInfo::exists(sandbox.scratch("received/stale.bin")));
    QCOMPARE(file(sandbox, "order.log"), QByteArray("flashed\n"));
    QCOMPARE(file(sandbox, "a.txt"), QByteArray("new a\n"));
    QVERIFY(QFileInfo::exists(sandbox.path("fw.zip"))); // only one name is removed
    verifyWorkFilesGone(sandbox);
}

void UpdateEndToEndTest::deviceMismatchSkipsTheFlash()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    offerBoth(sandbox, source, newSoftware, "RX999");
    const Run run = update(sandbox, "0,1", "yes", true);
    QCOMPARE(run.status, 0);
    QVERIFY(QDir(sandbox.scratch("received")).isEmpty());
    QCOMPARE(file(sandbox, "a.txt"), QByteArray("new a\n"));
    // The downloaded firmware package stays, byte for byte as the source has it.
    QCOMPARE(file(sandbox, "fw.zip"), sandbox.readFile(source.packagePath("fw.zip")));
    verifyWorkFilesGone(sandbox);
}

void UpdateEndToEndTest::downloadSurvivesTwoDrops()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    LocalHttpServer server;
    source.servePackagesFrom(server.url());
    offerSoftware(sandbox, source, newSoftware);
    sandbox.setEnv("no_proxy", "127.0.0.1");
    const QByteArray package = sandbox.readFile(source.packagePath("sw.zip"));
    HttpReply whole(200, package);
    whole.etag = "\"sw-2.0\"";
    HttpReply first = whole;
    first.dropAt = package.size() / 3;
    HttpReply second = whole;
    second.dropAt = package.size() * 2 / 3;
    server.setReplies("/sw.zip", {first, second, whole});

    const Run run = update(sandbox, "0", "yes");
    QVERIFY2(run.result.finished, run.result.err.constData());
    QCOMPARE(run.status, 0);
    QCOMPARE(server.requests().size(), 3);
    QCOMPARE(server.bytesServed(), package.size()); // each try went on where the last stopped
    QCOMPARE(file(sandbox, "a.txt"), QByteArray("new a\n"));
    QCOMPARE(file(sandbox, "restarted"), QByteArray("2.0\n"));
    verifyWorkFilesGone(sandbox);
    QVERIFY(QDir(sandbox.installation()).entryList({"sw.zip.*"}).isEmpty());
}

void UpdateEndToEndTest::updatesThroughTheDeltaOrTheFullPackage_data()
{
    QTest::addColumn<bool>("baseKept");
    QTest::addColumn<QByteArray>("download");
    QTest::newRow("base kept") << true << QByteArray("software download: delta sw-from-old.delta");
    QTest::newRow("no base") << false << QByteArray("software download: full package");
}

// The installation that kept the old package's tree downloads only the delta
// and ends with exactly what the full package gives one that did not.
void UpdateEndToEndTest::updatesThroughTheDeltaOrTheFullPackage()
{
    QFETCH(bool, baseKept);
    QFETCH(QByteArray, download);
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    UpdateSource::Tree oldSoftware = newSoftware;
    oldSoftware["a.txt"] = "old a\n";
    oldSoftware["gone.txt"] = "only in the old package\n";
    source.addSoftware("old.zip", oldSoftware);
    source.addSoftware("sw.zip", newSoftware);
    QVERIFY(source.describeWithDelta(PUBLISH_TOOL, "--software", source.packagePath("sw.zip"),
                                     source.packagePath("old.zip")));
    prepare(sandbox, source);
    if (baseKept)
        QCOMPARE(QProcess::execute("unzip", {"-qq", source.packagePath("old.zip"), "-d",
                                             sandbox.path(".installed_package")}),
                 0);

    const Run run = update(sandbox, "0", "yes");
    QVERIFY2(run.result.finished, run.result.err.constData());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.result.err.contains(download), run.result.err.constData());
    QVERIFY(!run.result.err.contains("delta not used"));
    QCOMPARE(file(sandbox, "a.txt"), QByteArray("new a\n"));
    QCOMPARE(file(sandbox, "sub/b.txt"), QByteArray("new b\n"));
    QCOMPARE(file(sandbox, "Data/contact.xml"), installed["Data/contact.xml"]);
    QCOMPARE(file(sandbox, "Data/sms.xml"), installed["Data/sms.xml"]);
    QCOMPARE(file(sandbox, "finish.log"), QByteArray("ran\n"));
    QCOMPARE(file(sandbox, "restarted"), QByteArray("2.0\n"));
    // The next delta's base: the new package's tree as it was unpacked.
    QCOMPARE(file(sandbox, ".installed_package/a.txt"), QByteArray("new a\n"));
    QCOMPARE(file(sandbox, ".installed_package/Data/contact.xml"), newSoftware["Data/contact.xml"]);
    QVERIFY(!QFileInfo::exists(sandbox.path(".installed_package/gone.txt")));
    QVERIFY(!QFileInfo::exists(sandbox.path("sw-from-old.delta")));
    // The history says which of the two came over the link.
    const QByteArray history = file(sandbox, "update-history.jsonl");
    QVERIFY2(history.contains(baseKept ? R"("download":"delta")" : R"("download":"full")"),
             history.constData());
    verifyWorkFilesGone(sandbox);
}

QTEST_MAIN(UpdateEndToEndTest)
#include "tst_update_e2e.moc"
