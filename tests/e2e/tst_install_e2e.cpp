#include "agent/LocalHttpServer.h"
#include "sandbox.h"
#include "software/testsupport.h"
#include "updatesource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <cstdio>

namespace {

const UpdateSource::Tree userFiles = {
    {"a.txt", "old a\n"},
    {"keep.txt", "not in the package\n"},
    {"sub/c.txt", "old c\n"},
    {"Data/contact.xml", QByteArray(819200, 'c')},
    {"Data/sms.xml", "<sms>the user's own</sms>\n"},
};

const UpdateSource::Tree newSoftware = {
    {"Kestrel", "#!/bin/sh\necho 2.0 > restarted\n"},
    {"a.txt", "new a\n"},
    {"sub/c.txt", "new c\n"},
    {"sub/b.txt", "new b\n"},
    {"new/deeper/d.txt", "new d\n"},
    {"Data/contact.xml", "<contacts>from the package</contacts>\n"},
    {"finish.sh", "#!/bin/sh\necho ran >> finish.log\n"},
};

// What a run leaves whatever its outcome: the agent's and the script's files.
// A download the full disk cut short is kept as ".part" for the next run.
const QStringList runArtifacts = {"/Description.xml",
                                  "/Description.xml.sig",
                                  "/UserSelection.xml",
                                  "/sw.zip",
                                  "/sw.zip.part",
                                  "/sw.zip.part.id",
                                  "/restarted",
                                  "/finish.log",
                                  "/updater.rc",
                                  "/cm.rc",
                                  "/Kestrel.log",
                                  "/alive",
                                  "/update-history.jsonl",
                                  "/update-last-check.json",
                                  "/known-bad-packages"};

const QStringList workPaths = {"updatebak.ini", "bak", "download", ".private_data_bak",
                               ".install_journal"};

constexpr qint64 page = 4096;

qint64 diskUse(const QString& root)
{
    qint64 bytes = 0;
    for (const QByteArray& content : snapshot(root))
        bytes += (content.size() + page - 1) / page * page;
    return bytes;
}

} // namespace

// The software install under faults that really happen: a power cut after
// any shell line, a full disk, a file that cannot be replaced, and packages
// with links, names that are not UTF-8 or names of the updater's own work
// paths. After the next start the installation is exactly the old one or
// exactly the new one, and the user's private data are there byte for byte.
class InstallEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void powerCutAfterAnyLineLeavesOldOrNew();
    void powerCutDuringRecoveryIsRecoveredAgain();
    void fullDiskLosesNothing_data();
    void fullDiskLosesNothing();
    void readOnlyUnchangedFileRollsBackAtOnce();
    void linksAndByteNamesSurvive_data();
    void linksAndByteNamesSurvive();
    void packageWithWorkPathIsRefused();
    void brokenPackageNeverStopsTheManager();
    void packageWithDataKeepsThePrivateData();
    void escapeAndCloseStopOnlyTheDownload_data();
    void escapeAndCloseStopOnlyTheDownload();
    void watchKeepsOnlyAManagerThatRuns_data();
    void watchKeepsOnlyAManagerThatRuns();
    void powerCutDuringTheWatchRollsBack();
    void failedPackageIsNotOfferedAgain();

private:
    struct Setup {
        Sandbox sandbox;
        UpdateSource source{sandbox.scratch("source")};
        QStringList own; // the updater's own installed files
        QMap<QString, QByteArray> before;
    };
    static void prepare(Setup& setup, const UpdateSource::Tree& package,
                        const UpdateSource::Tree& extraInstalled = {});
    static Sandbox::Result update(Setup& setup, const QString& around = {});
    static Sandbox::Result restart(Setup& setup, int killAfter = 0, bool recoverOnly = false);
    // An update that nothing interrupts, and the shell lines it ran.
    static QStringList recordedUpdate(Setup& reference);
    static QMap<QString, QByteArray> state(const Setup& setup);
    static QMap<QString, QByteArray> installedBy(const UpdateSource::Tree& package,
                                                 const UpdateSource::Tree& extraInstalled = {});
    static void verifyWorkPathsGone(const Setup& setup);
    // The sample manager 1.0 installed and running, manager offered as the
    // new one, and a watch of healthTime seconds.
    static void prepareWatch(Setup& setup, const QByteArray& manager, int healthTime);
    static QJsonObject lastHistoryRecord(const Setup& setup);
};

void InstallEndToEndTest::prepare(Setup& setup, const UpdateSource::Tree& package,
                                  const UpdateSource::Tree& extraInstalled)
{
    setup.own = snapshot(setup.sandbox.installation()).keys();
    writeTree(setup.sandbox.installation(), userFiles);
    writeTree(setup.sandbox.installation(), extraInstalled);
    QVERIFY(QFile::copy("/bin/sleep", setup.sandbox.path("Kestrel")));
    setup.source.addSoftware("sw.zip", package);
    setup.source.publish();
    setup.sandbox.writeSettings(setup.source.url());
    setup.sandbox.setEnv("AUTOPILOT_TICK", "0");
    setup.sandbox.setEnv("AUTOPILOT_BACKUP", "yes");
    setup.sandbox.setEnv("AUTOPILOT_NO_PAUSE", "1");
    setup.before = state(setup);
}

// One update, clicked through; around may wrap it in further lines, with
// "%1" where the update goes.
Sandbox::Result InstallEndToEndTest::update(Setup& setup, const QString& around)
{
    const QString run = "./Kestrel 600 & LD_PRELOAD='" AUTOPILOT_LIB "' ./cmupdater\n"
                        "echo $? > updater.rc\n";
    return setup.sandbox.run(around.isEmpty() ? run : around.arg(run), 120000);
}

// The next start by the running connection manager, which only recovers: the
// identity is incomplete, so without anything to recover the updater ends
// after its report. Or the boot's recovery alone, with no display at all.
// killAfter cuts the power after that many lines. "cm.rc" tells how the
// connection manager ended: 137 when the updater stopped it.
Sandbox::Result InstallEndToEndTest::restart(Setup& setup, int killAfter, bool recoverOnly)
{
    setup.sandbox.writeSettings(setup.source.url(), "IMEI_ID=\n");
    setup.sandbox.setEnv("AUTOPILOT_KILL_AFTER", QString::number(killAfter));
    const QString cm = setup.sandbox.scratch("cm/Kestrel");
    if (!QFileInfo::exists(cm) && QDir().mkpath(setup.sandbox.scratch("cm")))
        QFile::link("/bin/sleep", cm);
    const QString updater = recoverOnly ? "env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "
                                          "./cmupdater --recover"
                                        : "LD_PRELOAD='" AUTOPILOT_LIB "' ./cmupdater";
    const Sandbox::Result result = setup.sandbox.run(
        "'" + cm + "' 600 & cm=$!\n" + updater +
        "\nstatus=$?\nkill $cm 2>/dev/null\nwait $cm\necho $? > cm.rc\nexit $status\n");
    setup.sandbox.writeSettings(setup.source.url());
    return result;
}

QMap<QString, QByteArray> InstallEndToEndTest::state(const Setup& setup)
{
    QMap<QString, QByteArray> entries = snapshot(setup.sandbox.installation());
    for (const QString& name : setup.own + runArtifacts)
        entries.remove(name);
    // The package tree kept as the next delta's base, and the one unpacked
    // before the stop, are the updater's, not the installation's.
    entries.removeIf([](const auto& entry) {
        return entry.key().startsWith("/.installed_package") ||
               entry.key().startsWith("/.unpacked_package");
    });
    return entries;
}

void InstallEndToEndTest::verifyWorkPathsGone(const Setup& setup)
{
    for (const QString& name : workPaths)
        QVERIFY2(!QFileInfo::exists(setup.sandbox.path(name)), qPrintable(name));
}

// A reference run of the same package, which nothing interrupts.
QMap<QString, QByteArray> InstallEndToEndTest::installedBy(const UpdateSource::Tree& package,
                                                           const UpdateSource::Tree& extraInstalled)
{
    Setup reference;
    prepare(reference, package, extraInstalled);
    const Sandbox::Result result = update(reference);
    [&] {
        QVERIFY2(result.finished, result.err.constData());
        QCOMPARE(reference.sandbox.readFile(reference.sandbox.path("updater.rc")),
                 QByteArray("0\n"));
        verifyWorkPathsGone(reference);
    }();
    return state(reference);
}

QStringList InstallEndToEndTest::recordedUpdate(Setup& reference)
{
    prepare(reference, newSoftware);
    reference.sandbox.setEnv("AUTOPILOT_LINES", reference.sandbox.scratch("lines"));
    if (!update(reference).finished)
        return {};
    return QString::fromLocal8Bit(reference.sandbox.readFile(reference.sandbox.scratch("lines")))
        .split('\n', Qt::SkipEmptyParts);
}

void InstallEndToEndTest::powerCutAfterAnyLineLeavesOldOrNew()
{
    Setup reference;
    const QStringList lines = recordedUpdate(reference);
    const QMap<QString, QByteArray> installed = state(reference);
    QVERIFY(installed != reference.before);
    QCOMPARE(installed.value("/Data/contact.xml"), userFiles["Data/contact.xml"]);
    const qsizetype firstOfInstall = lines.indexOf("rm -rf /dev/ttyUSB1") + 1;
    QVERIFY(firstOfInstall > 0);
    // A constant number of lines, whatever the package holds.
    QVERIFY2(lines.size() - firstOfInstall < 30, qPrintable(lines.join('\n')));

    for (qsizetype cut = firstOfInstall + 1; cut <= lines.size(); ++cut) {
        const QByteArray where =
            "power cut after line " + QByteArray::number(cut) + ": " + lines[cut - 1].toUtf8();
        Setup setup;
        prepare(setup, newSoftware);
        setup.sandbox.setEnv("AUTOPILOT_KILL_AFTER", QString::number(cut));
        QVERIFY2(update(setup).finished, where);
        QVERIFY2(!QFileInfo::exists(setup.sandbox.path("updater.rc")), where);
        const bool interrupted = QFileInfo::exists(setup.sandbox.path("updatebak.ini"));
        // Every other cut is recovered at boot, by the updater alone.
        const bool atBoot = cut % 2 == 0;

        const Sandbox::Result next = restart(setup, 0, atBoot);

        QVERIFY2(next.finished && next.exitCode == 0, where);
        // The report, or after a recovery nothing: the started manager starts anew.
        if (atBoot)
            QVERIFY2(next.out.startsWith(interrupted ? "interrupted install" : "nothing"), where);
        else
            QVERIFY2(next.out.count("\r\n") == (interrupted ? 0 : 7), where);
        QVERIFY2(!interrupted || next.out.contains("interrupted install") ||
                     next.err.contains("interrupted install"),
                 where);
        QVERIFY2(setup.sandbox.readFile(setup.sandbox.path("cm.rc")) ==
                     (interrupted ? "137\n" : "143\n"),
                 where);
        const QMap<QString, QByteArray> after = state(setup);
        QVERIFY2(after == setup.before || after == installed, where);
        // The hook runs once with the new version, also when the power went
        // between the copy and the hook.
        QVERIFY2(setup.sandbox.readFile(setup.sandbox.path("finish.log")) ==
                     (after == installed ? "ran\n" : ""),
                 where);
        verifyWorkPathsGone(setup);
    }
}

void InstallEndToEndTest::powerCutDuringRecoveryIsRecoveredAgain()
{
    Setup reference;
    const QStringList lines = recordedUpdate(reference);
    const QMap<QString, QByteArray> installed = state(reference);
    const auto firstWith = [&lines](const QString& part) {
        for (qsizetype index = 0; index < lines.size(); ++index) {
            if (lines[index].contains(part))
                return int(index) + 1;
        }
        return 0;
    };
    // Cut during the copy, a start rolls back; cut once it is on disk, a start finishes.
    const int duringCopy = firstWith("/download' && {");
    const int afterCopy = firstWith("/.private_data_bak/contact.xml' '");
    QVERIFY(duringCopy > 0 && afterCopy > duringCopy);

    for (const int cut : {duringCopy, afterCopy}) {
        for (int recoveryCut = 1;; ++recoveryCut) {
            const QByteArray where = "power cut after line " + QByteArray::number(cut) +
                                     ", then after line " + QByteArray::number(recoveryCut) +
                                     " of the next start";
            Setup setup;
            prepare(setup, newSoftware);
            setup.sandbox.setEnv("AUTOPILOT_KILL_AFTER", QString::number(cut));
            QVERIFY2(update(setup).finished, where);
            const bool cutShort = !restart(setup, recoveryCut).err.contains("interrupted install");

            const Sandbox::Result next = restart(setup);

            QVERIFY2(next.finished && next.exitCode == 0, where);
            const QMap<QString, QByteArray> after = state(setup);
            QVERIFY2(after == (cut == duringCopy ? setup.before : installed), where);
            verifyWorkPathsGone(setup);
            if (!cutShort)
                break; // the recovery ran to its end before the cut
        }
    }
}

void InstallEndToEndTest::fullDiskLosesNothing_data()
{
    QTest::addColumn<QString>("disk");
    QTest::addColumn<QStringList>("mounts");
    QTest::addColumn<UpdateSource::Tree>("package");
    QTest::addColumn<QList<qint64>>("room");
    QTest::addColumn<QByteArray>("fault"); // what some run must have run into

    // The download, the unpacked package, the journal and the backup's
    // directories fill the disk in turn; the copy and the restores are links.
    QTest::newRow("installation") << QString() << QStringList() << newSoftware
                                  << QList<qint64>{0, 2, 4, 6, 8, 10, 12, 16}
                                  << QByteArray("not enough room to unpack: ");
    // Unpacked elsewhere, the package is copied for real, and the copy fills the disk.
    UpdateSource::Tree large = newSoftware;
    large["sub/large.bin"] = QByteArray(100 * page, 'L');
    QTest::newRow("copy") << QString() << QStringList{"download"} << large
                          << QList<qint64>{60, 90, 110, 125, 140}
                          << QByteArray("large.bin': No space left on device");
    // "/Data" on its own disk: the package's own data fill it, and the user's
    // contacts no longer fit when they are put back.
    UpdateSource::Tree filler = newSoftware;
    filler["Data/filler.bin"] = QByteArray(50 * page, 'F');
    QTest::newRow("private data") << QString("Data") << QStringList() << filler << QList<qint64>{10}
                                  << QByteArray("contact.xml': No space left on device");
}

void InstallEndToEndTest::fullDiskLosesNothing()
{
    QFETCH(QString, disk);
    QFETCH(QStringList, mounts);
    QFETCH(UpdateSource::Tree, package);
    QFETCH(QList<qint64>, room);
    QFETCH(QByteArray, fault);
    const QMap<QString, QByteArray> installed = installedBy(package);
    QByteArray faults;
    int completed = 0;

    for (const qint64 pages : room) {
        const QByteArray where = "room for " + QByteArray::number(pages) + " pages";
        Setup setup;
        prepare(setup, package);
        // The small disk starts with what the directory holds and keeps what
        // the update leaves on it; mount points of its own are not kept.
        const QString target =
            disk.isEmpty() ? setup.sandbox.installation() : setup.sandbox.path(disk);
        const QString seed = setup.sandbox.scratch("seed");
        const QString kept = setup.sandbox.scratch("kept");
        QVERIFY(QDir().rename(target, seed));
        QVERIFY(QDir().mkpath(target));
        QStringList options{"--size", QString::number(diskUse(seed) + pages * page), "--tmpfs",
                            target};
        for (const QString& mount : mounts)
            options << "--tmpfs" << target + '/' + mount;
        setup.sandbox.setMounts(options);
        QString around = "cp -a '" + seed + "'/. '" + target + "'/ && {\n%1}\ncp -a '" + target +
                         "'/. '" + kept + "'/\n";
        for (const QString& mount : mounts)
            around += "rmdir '" + kept + '/' + mount + "'\n";
        const Sandbox::Result first = update(setup, around);
        QVERIFY2(first.finished, where);
        faults += first.err;
        setup.sandbox.setMounts({});
        QVERIFY(QDir(target).removeRecursively() && QDir().rename(kept, target));
        // A full disk is the run's fault: the genuine package stays on offer.
        QVERIFY2(!QFileInfo::exists(setup.sandbox.path("known-bad-packages")), where);

        const Sandbox::Result next = restart(setup);

        QVERIFY2(next.finished && next.exitCode == 0, where);
        const QMap<QString, QByteArray> after = state(setup);
        QVERIFY2(after == setup.before || after == installed, where);
        QCOMPARE(after.value("/Data/contact.xml"), userFiles["Data/contact.xml"]);
        verifyWorkPathsGone(setup);
        completed += after == installed ? 1 : 0;
    }
    QVERIFY(faults.contains(fault));
    QVERIFY(completed > 0); // the last size has room enough
}

void InstallEndToEndTest::readOnlyUnchangedFileRollsBackAtOnce()
{
    Setup setup;
    prepare(setup, newSoftware);
    setup.sandbox.setMounts(
        {"--ro-bind", setup.sandbox.path("sub/c.txt"), setup.sandbox.path("sub/c.txt")});

    const Sandbox::Result result = update(setup);

    // The file cannot be replaced, so the copy fails; it is still the old one,
    // so the roll-back leaves it alone and ends whole at once.
    setup.sandbox.setMounts({});
    QVERIFY(result.err.contains("previous version was restored"));
    QCOMPARE(setup.sandbox.readFile(setup.sandbox.path("updater.rc")), QByteArray("0\n"));
    QCOMPARE(state(setup), setup.before);
    verifyWorkPathsGone(setup);
}

void InstallEndToEndTest::linksAndByteNamesSurvive_data()
{
    QTest::addColumn<bool>("copyFails");
    QTest::newRow("installed") << false;
    QTest::newRow("rolled back") << true;
}

void InstallEndToEndTest::linksAndByteNamesSurvive()
{
    QFETCH(bool, copyFails);
    const QByteArray oddName = "/caf\xe9.txt"; // Latin-1, not UTF-8
    Setup setup;
    prepare(setup, {{"Kestrel", "#!/bin/sh\n"}}, {{"lib/libcm.so.1", "old library"}});
    const QString inst = setup.sandbox.installation();
    QVERIFY(QFile::link("libcm.so.1", inst + "/lib/libcm.so"));
    QVERIFY(QFile::link("lib", inst + "/plugins"));
    writeRawFile(QFile::encodeName(inst) + oddName, "old odd");
    if (copyFails)
        writeTree(inst, UpdateSource::Tree{{"conflict/inside.txt", "kept"}});
    setup.before = state(setup);
    // The package, zipped with its links as links.
    const QString content = setup.sandbox.scratch("content");
    writeTree(content, UpdateSource::Tree{{"lib/libcm.so.2", "new library"},
                                          {"shared/data.txt", "shared"},
                                          {"a.txt", "new a\n"}});
    QVERIFY(QFile::link("libcm.so.2", content + "/lib/libcm.so"));
    QVERIFY(QFile::link("shared", content + "/plugins"));
    QVERIFY(QFile::link("nowhere", content + "/dangling"));
    // An empty directory is installed; a stray one with a dot at the top is not.
    QVERIFY(QDir().mkpath(content + "/logs") && QDir().mkpath(content + "/shared/.cache"));
    writeTree(content, UpdateSource::Tree{{".git/config", "stray"}});
    writeRawFile(QFile::encodeName(content) + oddName, "new odd");
    if (copyFails)
        writeTree(content, UpdateSource::Tree{{"conflict", "a file for a directory"}});
    QProcess zip;
    zip.setWorkingDirectory(content);
    zip.start("sh",
              {"-c", "rm -f \"$0\" && zip -q -r -y \"$0\" .", setup.source.packagePath("sw.zip")});
    QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
    setup.source.publish();

    QVERIFY(update(setup).finished);

    const QMap<QString, QByteArray> after = state(setup);
    if (copyFails) {
        QCOMPARE(after, setup.before);
    } else {
        QCOMPARE(after.value("/lib/libcm.so"), QByteArray("-> libcm.so.2"));
        QCOMPARE(after.value("/lib/libcm.so.1"), QByteArray("old library"));
        QCOMPARE(after.value("/plugins"), QByteArray("-> shared"));
        QCOMPARE(after.value("/dangling"), QByteArray("-> nowhere"));
        QCOMPARE(after.value(QString::fromLatin1(oddName)), QByteArray("new odd"));
        QCOMPARE(after.value("/logs"), QByteArray("<dir>"));
        QCOMPARE(after.value("/shared/.cache"), QByteArray("<dir>"));
        QVERIFY(!after.contains("/.git/config"));
    }
    verifyWorkPathsGone(setup);
    // QTemporaryDir cannot remove a name that is not UTF-8.
    for (const QString& dir : {inst, content})
        QCOMPARE(std::remove((QFile::encodeName(dir) + oddName).constData()), 0);
}

void InstallEndToEndTest::packageWithWorkPathIsRefused()
{
    for (const char* workPath : {"bak/a.txt", "download/x", "updatebak.ini"}) {
        Setup setup;
        UpdateSource::Tree package = newSoftware;
        package[workPath] = "the package's own";
        prepare(setup, package);

        QVERIFY(update(setup).finished);

        QCOMPARE(state(setup), setup.before);
        verifyWorkPathsGone(setup);
        QCOMPARE(setup.sandbox.readFile(setup.sandbox.path("restarted")), QByteArray());
    }
}

// A package that cannot install is found before anything is stopped: the
// connection manager started before the updater is still the one running.
void InstallEndToEndTest::brokenPackageNeverStopsTheManager()
{
    Setup setup;
    prepare(setup, newSoftware);
    QFile package(setup.source.packagePath("sw.zip"));
    QVERIFY(package.open(QIODevice::WriteOnly | QIODevice::Truncate));
    package.write("<html>503 Service Unavailable</html>\n");
    package.close();
    setup.source.publish();

    const Sandbox::Result result = update(setup, "%1kill -0 $! && echo running > alive\n");

    QVERIFY2(result.finished, result.err.constData());
    QCOMPARE(setup.sandbox.readFile(setup.sandbox.path("alive")), QByteArray("running\n"));
    QCOMPARE(setup.sandbox.readFile(setup.sandbox.path("updater.rc")), QByteArray("1\n"));
    QVERIFY2(result.err.contains("package refused: sw.zip: "), result.err.constData());
    QVERIFY2(result.err.contains("the downloaded package is damaged"), result.err.constData());
    const QJsonObject record = lastHistoryRecord(setup);
    QCOMPARE(record.value("result").toString(), QString("refused"));
    QCOMPARE(record.value("reason").toString(), QString("package-broken"));
    QCOMPARE(state(setup), setup.before);
    verifyWorkPathsGone(setup);
    QVERIFY(!QFileInfo::exists(setup.sandbox.path(".unpacked_package")));
    QVERIFY(!QFileInfo::exists(setup.sandbox.path("sw.zip")));
}

void InstallEndToEndTest::packageWithDataKeepsThePrivateData()
{
    UpdateSource::Tree package = newSoftware;
    package["Data/sms.xml"] = "<sms>the package's</sms>\n";
    package["Data/new.xml"] = "a new data file\n";
    Setup setup;
    prepare(setup, package);

    QVERIFY(update(setup).finished);

    const QMap<QString, QByteArray> after = state(setup);
    QCOMPARE(after.value("/Data/contact.xml"), userFiles["Data/contact.xml"]);
    QCOMPARE(after.value("/Data/sms.xml"), userFiles["Data/sms.xml"]);
    QCOMPARE(after.value("/Data/new.xml"), package["Data/new.xml"]);
    QCOMPARE(after.value("/a.txt"), package["a.txt"]);
    verifyWorkPathsGone(setup);
}

void InstallEndToEndTest::escapeAndCloseStopOnlyTheDownload_data()
{
    QTest::addColumn<QString>("step");
    QTest::newRow("download") << "downloadLabel";
    QTest::newRow("install") << "updateSWLabel";
}

void InstallEndToEndTest::escapeAndCloseStopOnlyTheDownload()
{
    QFETCH(QString, step);
    const bool download = step == "downloadLabel";
    UpdateSource::Tree package = newSoftware;
    // A download and a hook that last long enough to be pressed through.
    QByteArray noise(8 << 20, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 2654435761u) >> 13);
    package["noise.bin"] = noise;
    package["finish.sh"] = "#!/bin/sh\nsleep 1\necho ran >> finish.log\n";
    Setup setup;
    prepare(setup, package);
    // Served in pieces, so that the download lasts however fast the machine is.
    LocalHttpServer server;
    setup.source.servePackagesFrom(server.url());
    setup.source.publish();
    HttpReply slow(200, setup.sandbox.readFile(setup.source.packagePath("sw.zip")));
    slow.chunkSize = 256 << 10;
    slow.chunkIntervalMs = 20;
    server.setReply("/sw.zip", slow);
    setup.sandbox.setEnv("no_proxy", "127.0.0.1");
    setup.sandbox.setEnv("AUTOPILOT_ESCAPE", step);

    const Sandbox::Result result = update(setup);

    QVERIFY2(result.err.contains("escape during " + step.toUtf8()), result.err.constData());
    // A stopped download is a failed one: nothing stopped, nothing changed.
    QCOMPARE(setup.sandbox.readFile(setup.sandbox.path("updater.rc")),
             QByteArray(download ? "1\n" : "0\n"));
    QCOMPARE(setup.sandbox.readFile(setup.sandbox.path("a.txt")),
             download ? userFiles["a.txt"] : package["a.txt"]);
    QCOMPARE(setup.sandbox.readFile(setup.sandbox.path("finish.log")),
             QByteArray(download ? "" : "ran\n"));
    QCOMPARE(QFileInfo::exists(setup.sandbox.path("Description.xml")), false);
    verifyWorkPathsGone(setup);
    // The user's choice, not a failure.
    QCOMPARE(lastHistoryRecord(setup).value("result").toString(),
             QString(download ? "cancelled" : "installed"));
}

void InstallEndToEndTest::prepareWatch(Setup& setup, const QByteArray& manager, int healthTime)
{
    UpdateSource::Tree package = newSoftware;
    package["Kestrel"] = manager;
    prepare(setup, package);
    QVERIFY(QFile::remove(setup.sandbox.path("Kestrel")));
    QVERIFY(QFile::copy(KESTREL_OLD, setup.sandbox.path("Kestrel")));
    setup.before = state(setup);
    setup.sandbox.writeSettings(setup.source.url(),
                                "HEALTH_TIME=" + QByteArray::number(healthTime) + "\n");
}

QJsonObject InstallEndToEndTest::lastHistoryRecord(const Setup& setup)
{
    const QList<QByteArray> lines =
        setup.sandbox.readFile(setup.sandbox.path("update-history.jsonl")).trimmed().split('\n');
    return QJsonDocument::fromJson(lines.last()).object();
}

void InstallEndToEndTest::watchKeepsOnlyAManagerThatRuns_data()
{
    QTest::addColumn<QByteArray>("manager");
    QTest::addColumn<bool>("kept");

    QFile running(KESTREL_NEW);
    QVERIFY(running.open(QIODevice::ReadOnly));
    QTest::newRow("keeps running") << running.readAll() << true;
    QTest::newRow("exits at once") << QByteArray("#!/bin/sh\nexit 1\n") << false;
    QTest::newRow("exits half-way") << QByteArray("#!/bin/sh\nsleep 1\n") << false;
}

void InstallEndToEndTest::watchKeepsOnlyAManagerThatRuns()
{
    QFETCH(QByteArray, manager);
    QFETCH(bool, kept);
    Setup setup;
    prepareWatch(setup, manager, 3);

    // Which manager runs once the updater has ended, by its own log line.
    const Sandbox::Result result =
        update(setup, "%1tail -n 1 Kestrel.log | cut -d ' ' -f 2,6 > alive\n"
                      "kill -0 \"$(cut -d ' ' -f 2 alive)\" && echo running >> alive\n");

    QVERIFY2(result.finished, result.err.constData());
    QCOMPARE(setup.sandbox.readFile(setup.sandbox.path("updater.rc")), QByteArray("0\n"));
    verifyWorkPathsGone(setup);
    const QJsonObject record = lastHistoryRecord(setup);
    QCOMPARE(record.value("software").toObject().value("from").toString(), QString("1.0"));
    QCOMPARE(record.value("result").toString(), QString(kept ? "installed" : "rolled-back"));
    QCOMPARE(result.err.contains("did not start. The previous version was restored."), !kept);
    if (kept) {
        QCOMPARE(setup.sandbox.readFile(setup.sandbox.path("Kestrel")), manager);
        QVERIFY(setup.sandbox.readFile(setup.sandbox.path("alive")).startsWith("2.0 "));
    } else {
        QCOMPARE(record.value("reason").toString(), QString("did-not-start"));
        QCOMPARE(state(setup), setup.before);
        QVERIFY(setup.sandbox.readFile(setup.sandbox.path("alive")).startsWith("1.0 "));
    }
    QVERIFY(setup.sandbox.readFile(setup.sandbox.path("alive")).endsWith("running\n"));
}

void InstallEndToEndTest::powerCutDuringTheWatchRollsBack()
{
    QFile running(KESTREL_NEW);
    QVERIFY(running.open(QIODevice::ReadOnly));
    Setup setup;
    prepareWatch(setup, running.readAll(), 30);

    // The cut comes once the new manager has logged its start.
    const Sandbox::Result cut =
        update(setup, "{ %1} & until grep -q '^Kestrel 2.0' Kestrel.log; do sleep 0.1; done\n"
                      "kill -9 -1\n");
    QVERIFY(cut.finished && cut.elapsedMs < 25000);
    QVERIFY(!QFileInfo::exists(setup.sandbox.path("updater.rc")));

    const Sandbox::Result next = restart(setup);

    QVERIFY2(next.err.contains("interrupted install rolled back"), next.err.constData());
    QCOMPARE(state(setup), setup.before);
    verifyWorkPathsGone(setup);
    QCOMPARE(lastHistoryRecord(setup).value("result").toString(), QString("recovered"));
}

// After the watch rolled 2.0 back, the same package is not offered again and
// the base tree is 1.0's again; other bytes of 2.0 are offered, as a delta.
void InstallEndToEndTest::failedPackageIsNotOfferedAgain()
{
    Setup setup;
    prepareWatch(setup, "#!/bin/sh\nexit 1\n", 2);
    UpdateSource::Tree oldSoftware = newSoftware;
    oldSoftware["a.txt"] = "old a\n";
    UpdateSource old(setup.sandbox.scratch("old"));
    old.addSoftware("old.zip", oldSoftware);
    QCOMPARE(QProcess::execute("unzip", {"-qq", old.packagePath("old.zip"), "-d",
                                         setup.sandbox.path(".installed_package")}),
             0);
    const QString check = "unset QT_QPA_PLATFORM DISPLAY\n./cmupdater --check";

    QVERIFY(update(setup).finished);
    QCOMPARE(lastHistoryRecord(setup).value("result").toString(), QString("rolled-back"));
    const Sandbox::Result again = setup.sandbox.run(check);

    QCOMPARE(again.exitCode, 1);
    QVERIFY2(again.out.contains("refused: known-bad"), again.out.constData());
    QCOMPARE(lastHistoryRecord(setup).value("reason").toString(), QString("known-bad"));
    QCOMPARE(setup.sandbox.readFile(setup.sandbox.path(".installed_package/a.txt")),
             QByteArray("old a\n"));

    UpdateSource::Tree other = newSoftware;
    other["a.txt"] = "other a\n";
    setup.source.addSoftware("sw2.zip", other);
    QVERIFY(setup.source.describeWithDelta(PUBLISH_TOOL, "--software",
                                           setup.source.packagePath("sw2.zip"),
                                           old.packagePath("old.zip")));
    const Sandbox::Result next = setup.sandbox.run(check);

    QCOMPARE(next.exitCode, 100);
    QVERIFY2(next.out.startsWith("software 1.0 -> 2.0, ") && next.out.endsWith(", delta\n"),
             next.out.constData());
}

QTEST_MAIN(InstallEndToEndTest)
#include "tst_install_e2e.moc"
