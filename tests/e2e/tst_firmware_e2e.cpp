#include "sandbox.h"
#include "updatesource.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

namespace {

// Bytes that do not compress, so that the zip stores them as they are.
QByteArray randomBytes(qsizetype words, quint32 seed)
{
    QByteArray bytes(words * qsizetype(sizeof(quint32)), Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), words);
    return bytes;
}

// 64 data frames, so that a fault at request 40 meets the middle of the image.
const UpdateSource::Tree newImage = {
    {"amss.mbn", randomBytes(64 * 1024, 1)},
    {"boot.mbn", randomBytes(750, 2)},
    {"efs/nv.cfg", "nv 2.0\n"},
};

const UpdateSource::Tree oldImage = {
    {"amss.mbn", "old amss"},
    {"boot.mbn", "old boot"},
    {"efs/nv.cfg", "nv 1.0\n"},
    {"efs/calibration.bin", "kept"},
};

const QByteArray firmwareWarning = "autopilot: box Warning: The modem firmware was not updated. "
                                   "Keep the modem plugged in and run the update again.";

} // namespace

// Firmware updates of the installed updater in the sandbox against a modem
// simulator that fails as a real line does: the modem keeps its old image
// whole, and the user is told.
class FirmwareEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void brokenFlashKeepsTheOldImage_data();
    void brokenFlashKeepsTheOldImage();
    void lostConfirmationStillSucceeds();
    void refusedPackageNeverReachesTheModem();
    void flashesFromADeltaOnlyOnTheKeptTree_data();
    void flashesFromADeltaOnlyOnTheKeptTree();
    void updatesWithoutADisplay_data();
    void updatesWithoutADisplay();

private:
    struct Run {
        Sandbox::Result result;
        int status = -1;
    };
    static void prepare(Sandbox& sandbox, UpdateSource& source);
    static Run update(Sandbox& sandbox, const QStringList& faults = {},
                      const QString& command = "LD_PRELOAD='" AUTOPILOT_LIB "' ./cmupdater");
    static UpdateSource::Tree modemImage(const Sandbox& sandbox);
};

void FirmwareEndToEndTest::prepare(Sandbox& sandbox, UpdateSource& source)
{
    QVERIFY(QFile::copy("/bin/sleep", sandbox.path("Kestrel")));
    sandbox.writeSettings(source.url());
    writeTree(sandbox.scratch("received"), oldImage);
    sandbox.setEnv("AUTOPILOT_TICK", "0");
    sandbox.setEnv("BKSERIAL_DEVICE", sandbox.scratch("modem"));
    sandbox.setEnv("LIB6246_ACK_TIMEOUT_MS", "300");
}

FirmwareEndToEndTest::Run FirmwareEndToEndTest::update(Sandbox& sandbox, const QStringList& faults,
                                                       const QString& command)
{
    const QString modem = sandbox.scratch("modem");
    Run run;
    run.result = sandbox.run(
        QString("rm -f '%3'\n"
                "'%1' --out '%2' --link '%3' --verbose %4 & sim=$!\n"
                "while [ ! -e '%3' ]; do sleep 0.1; done\n"
                "%5\n"
                "echo $? > updater.rc\n"
                "kill $sim 2>/dev/null; wait $sim\n")
            .arg(MODEM_SIM, sandbox.scratch("received"), modem, faults.join(' '), command),
        120000);
    run.status = sandbox.readFile(sandbox.path("updater.rc")).trimmed().toInt();
    QFile::remove(sandbox.path("updater.rc"));
    return run;
}

// Every file the modem holds, its own hidden ones included.
UpdateSource::Tree FirmwareEndToEndTest::modemImage(const Sandbox& sandbox)
{
    const QDir root(sandbox.scratch("received"));
    UpdateSource::Tree files;
    QDirIterator entry(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (entry.hasNext()) {
        const QString path = entry.next();
        files.insert(root.relativeFilePath(path), sandbox.readFile(path));
    }
    return files;
}

void FirmwareEndToEndTest::brokenFlashKeepsTheOldImage_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("runAgain");
    QTest::newRow("hang-up") << QStringList{"--fault", "hangup", "--at", "40"} << true;
    QTest::newRow("silence") << QStringList{"--fault", "silent", "--at", "40"} << false;
    QTest::newRow("corruption") << QStringList{"--fault", "corrupt", "--at", "40"} << false;
    QTest::newRow("bit flipped in a data frame")
        << QStringList{"--fault", "flip", "--at", "file-data", "--times", "1"} << false;
}

void FirmwareEndToEndTest::brokenFlashKeepsTheOldImage()
{
    QFETCH(QStringList, faults);
    QFETCH(bool, runAgain);
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    source.addFirmware("fw.zip", newImage);
    source.publish();
    prepare(sandbox, source);

    const Run broken = update(sandbox, faults);

    QVERIFY2(broken.result.finished, broken.result.err.constData());
    QCOMPARE(broken.status, 0);
    QCOMPARE(modemImage(sandbox), oldImage);
    QVERIFY2(broken.result.err.contains(firmwareWarning), broken.result.err.constData());
    QVERIFY(broken.result.err.contains("firmware update failed"));
    if (!runAgain)
        return;

    const Run repair = update(sandbox);

    QCOMPARE(repair.status, 0);
    UpdateSource::Tree repaired = newImage;
    repaired.insert("efs/calibration.bin", oldImage["efs/calibration.bin"]);
    QCOMPARE(modemImage(sandbox), repaired);
    QVERIFY(!repair.result.err.contains("autopilot: box"));
}

void FirmwareEndToEndTest::lostConfirmationStillSucceeds()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    source.addFirmware("fw.zip", newImage);
    source.publish();
    prepare(sandbox, source);

    const Run run = update(sandbox, {"--fault", "corrupt", "--at", "commit", "--only"});

    QCOMPARE(run.status, 0);
    QCOMPARE(modemImage(sandbox).value("amss.mbn"), newImage["amss.mbn"]);
    QVERIFY2(!run.result.err.contains("autopilot: box"), run.result.err.constData());
    QVERIFY(run.result.err.contains("modem-sim: <- query"));
}

void FirmwareEndToEndTest::refusedPackageNeverReachesTheModem()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    source.addFirmware("fw.zip", newImage);
    source.damage("fw.zip");
    source.publish();
    prepare(sandbox, source);

    const Run run = update(sandbox);

    // Refused before anything stopped, like a broken software package.
    QCOMPARE(run.status, 1);
    QCOMPARE(modemImage(sandbox), oldImage);
    QVERIFY2(!run.result.err.contains("modem-sim: <-"), run.result.err.constData());
    QVERIFY(run.result.err.contains("package refused: fw.zip"));
    QVERIFY(run.result.err.contains("autopilot: box Warning: The firmware update failed: the "
                                    "downloaded package is damaged and was not flashed."));
}

void FirmwareEndToEndTest::flashesFromADeltaOnlyOnTheKeptTree_data()
{
    QTest::addColumn<bool>("keptChanged");
    QTest::addColumn<QByteArray>("download");
    QTest::newRow("kept tree matches")
        << false << QByteArray("firmware download: delta fw-from-old.delta");
    QTest::newRow("kept tree changed") << true << QByteArray("firmware download: full package");
}

// A minor firmware release: the image flashed last time, kept by the updater,
// is the base of a delta that is downloaded instead of the package; a kept
// tree changed since then takes the full package. The modem gets the same.
void FirmwareEndToEndTest::flashesFromADeltaOnlyOnTheKeptTree()
{
    QFETCH(bool, keptChanged);
    QFETCH(QByteArray, download);
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    UpdateSource::Tree previous = newImage;
    previous["amss.mbn"].replace(1000, 16, QByteArray(16, 'p'));
    previous["efs/nv.cfg"] = "nv 1.0\n";
    source.addFirmware("old.zip", previous);
    source.addFirmware("fw.zip", newImage);
    QVERIFY(source.describeWithDelta(PUBLISH_TOOL, "--firmware", source.packagePath("fw.zip"),
                                     source.packagePath("old.zip")));
    prepare(sandbox, source);
    const QString kept = sandbox.path(".installed_firmware");
    QCOMPARE(QProcess::execute("unzip", {"-qq", source.packagePath("old.zip"), "-d", kept}), 0);
    QFile changed(kept + "/efs/nv.cfg");
    if (keptChanged)
        QVERIFY(changed.open(QIODevice::Append) && changed.write("changed\n") > 0);
    changed.close();

    const Run run = update(sandbox);

    QCOMPARE(run.status, 0);
    QVERIFY2(run.result.err.contains(download), run.result.err.constData());
    QVERIFY(!run.result.err.contains("delta not used"));
    UpdateSource::Tree flashed = newImage;
    flashed.insert("efs/calibration.bin", oldImage["efs/calibration.bin"]);
    QCOMPARE(modemImage(sandbox), flashed);
    // The image the modem took is the next delta's base.
    QCOMPARE(sandbox.readFile(kept + "/amss.mbn"), newImage["amss.mbn"]);
    QCOMPARE(sandbox.readFile(kept + "/efs/nv.cfg"), newImage["efs/nv.cfg"]);
    const QByteArray history = sandbox.readFile(sandbox.path("update-history.jsonl"));
    QVERIFY2(history.contains(keptChanged ? R"("download":"full")" : R"("download":"delta")"),
             history.constData());
}

void FirmwareEndToEndTest::updatesWithoutADisplay_data()
{
    QTest::addColumn<bool>("firmwareBroken");
    QTest::addColumn<int>("status");
    QTest::newRow("software delta, firmware flashed") << false << 0;
    QTest::newRow("broken firmware") << true << 1;
}

// An administrator's update: no display, no toolkit platform, nobody to ask.
// A firmware package that would not flash stops nothing: the manager keeps
// running as the same process.
void FirmwareEndToEndTest::updatesWithoutADisplay()
{
    QFETCH(bool, firmwareBroken);
    QFETCH(int, status);
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    const UpdateSource::Tree oldSoftware{{"readme.txt", "1.0\n"}, {"lib/data.bin", "data 1.0"}};
    const UpdateSource::Tree newSoftware{{"readme.txt", "2.0\n"}, {"lib/data.bin", "data 2.0"}};
    source.addSoftware("sw.zip", newSoftware);
    source.addFirmware("fw.zip", newImage);
    // The publisher's tool would refuse to describe a broken package.
    if (firmwareBroken) {
        source.damage("fw.zip");
        source.publish();
    } else {
        source.addSoftware("old.zip", oldSoftware);
        QVERIFY(source.describe(PUBLISH_TOOL, {"--software", source.packagePath("sw.zip"),
                                               "--delta-from", source.packagePath("old.zip"),
                                               "--firmware", source.packagePath("fw.zip")}));
    }
    prepare(sandbox, source);
    sandbox.setEnv("DISPLAY", "");
    sandbox.setEnv("QT_QPA_PLATFORM", "");
    writeTree(sandbox.path(".installed_package"), oldSoftware);

    const Run run = update(sandbox, {},
                           "./Kestrel 1000 & cm=$!\n"
                           "env -u DISPLAY -u QT_QPA_PLATFORM ./cmupdater --update; rc=$?\n"
                           "[ \"$(cut -d' ' -f3 /proc/$cm/stat)\" = S ] && echo manager kept\n"
                           "(exit $rc)");

    const QByteArray out = run.result.out;
    QCOMPARE(run.status, status);
    QCOMPARE(out.contains("manager kept"), firmwareBroken);
    QCOMPARE(modemImage(sandbox).value("amss.mbn"),
             firmwareBroken ? oldImage["amss.mbn"] : newImage["amss.mbn"]);
    QCOMPARE(sandbox.readFile(sandbox.path("readme.txt")),
             firmwareBroken ? QByteArray() : QByteArray("2.0\n"));
    const QByteArray history = sandbox.readFile(sandbox.path("update-history.jsonl"));
    QVERIFY2(out.contains(firmwareBroken ? "cmupdater --update: refused"
                                         : "cmupdater --update: installed"),
             out.constData());
    QVERIFY2(history.contains(firmwareBroken ? R"("reason":"package-broken")"
                                             : R"("result":"installed")"),
             history.constData());
    if (firmwareBroken)
        return;
    QVERIFY2(out.contains("1.Download packages\n") && out.contains("2.Update firmware\n") &&
                 out.contains("Start update software\n"),
             out.constData());
    QVERIFY(run.result.err.contains("software download: delta"));
}

QTEST_MAIN(FirmwareEndToEndTest)
#include "tst_firmware_e2e.moc"
