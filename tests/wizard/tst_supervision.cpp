#include "dialogfixture.h"

#include "base/shell.h"
#include "session/updatesession.h"
#include "wizard/cmupdater.h"
#include "wizard/messagebox.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QStackedWidget>
#include <QtTest>

#include <optional>

namespace {

QStringList warnings;

void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

QStringList listLines(DialogFixture& fixture)
{
    QStringList lines;
    auto* list = fixture.dialog().findChild<QListWidget*>("updateListbox");
    for (int row = 0; row < list->count(); ++row)
        lines << list->item(row)->text();
    return lines;
}

int barValue(DialogFixture& fixture)
{
    return fixture.dialog().findChild<QProgressBar*>("updateProgressBar")->value();
}

// Packs the shell commands' files in the installation into fw.zip.
void makeFirmwarePackage(DialogFixture& fixture, const QString& commands)
{
    QCOMPARE(QProcess::execute("sh", {"-c", "cd '" + fixture.path("") + "' && " + commands}), 0);
}

const QByteArray twoPackages =
    package("Software Version", "sw.zip") + package("Firmware Version", "fw.zip");

} // namespace

// The version answer, the watchdog, state and progress reports, as the agent
// delivers them from its own thread.
class SupervisionTest : public QObject {
    Q_OBJECT

private slots:
    void endsQuietlyWithoutANewVersion_data();
    void endsQuietlyWithoutANewVersion();
    void showsTheNoticeForANewVersion_data();
    void showsTheNoticeForANewVersion();
    void watchdog_data();
    void watchdog();
    void printsOnlyKnownStates_data();
    void printsOnlyKnownStates();
    void addsEachDownloadLineOnce();
    void ignoresProgressOfAnotherFile();
    void countsSharedNamesForTheSoftware();
    void addsEachFirmwareStatusOnce();
    void flashesTheUnpackedPackage();
    void refusesAPackageWithoutACleanFile_data();
    void refusesAPackageWithoutACleanFile();
    void failedFlashIsToldInAWarningBox();

private:
    static QByteArray flagged(const QByteArray& flag);
};

QByteArray SupervisionTest::flagged(const QByteArray& flag)
{
    return description("<Flag>" + flag + "</Flag>", "");
}

void SupervisionTest::endsQuietlyWithoutANewVersion_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("outcome");
    const QString failed = "Check version failed,updater will exit";
    const QString latest = "No new version, updater will exit";
    QTest::newRow("flag 0") << flagged("0") << failed;
    QTest::newRow("empty flag") << QByteArray("<U><Flag></Flag></U>") << failed;
    QTest::newRow("flag abc") << flagged("abc") << failed;
    QTest::newRow("no description") << QByteArray() << failed;
    QTest::newRow("malformed") << QByteArray("<U><Flag>5</Flag>") << failed;
    QTest::newRow("flag 1") << flagged("1") << latest;
    QTest::newRow("flag 2") << flagged("2") << latest;
    QTest::newRow("flag 3") << flagged("3") << latest;
}

void SupervisionTest::endsQuietlyWithoutANewVersion()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, outcome);
    DialogFixture fixture;
    if (!content.isEmpty())
        fixture.writeFile("Description.xml", content);
    QElapsedTimer clock;
    clock.start();
    fixture.onAgentThread([&] { fixture.dialog().HaveNewVersion(); });
    QCOMPARE(fixture.endedWith, 0);
    QVERIFY(clock.elapsed() >= 50); // the pause before the end
    QVERIFY(!fixture.dialog().isVisible());
    QCOMPARE(fixture.dialog().findChild<QLabel*>("descriptionNoticeContent")->text(), outcome);
    QVERIFY(!fixture.dialog().findChild<QPushButton*>("noticeNext")->isEnabled());
}

void SupervisionTest::showsTheNoticeForANewVersion_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("flag 4") << description("<Flag>4</Flag>", "");
    QTest::newRow("flag 5") << description("<Flag>5</Flag>", "");
    QTest::newRow("flag -1") << description("<Flag>-1</Flag>", "");
    QTest::newRow("other header") << description(newVersionHeader(), twoPackages);
}

void SupervisionTest::showsTheNoticeForANewVersion()
{
    QFETCH(QByteArray, content);
    DialogFixture fixture;
    fixture.writeFile("Description.xml", content);
    fixture.onAgentThread([&] { fixture.dialog().HaveNewVersion(); });
    QVERIFY(fixture.dialog().isVisible());
    QCOMPARE(fixture.dialog().findChild<QStackedWidget*>("centerStack")->currentIndex(), 0);
    QCOMPARE(fixture.endedWith, -1);
    QVERIFY(!fixture.dialog().exitPending());
}

void SupervisionTest::watchdog_data()
{
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("ended");
    QTest::newRow("silent check") << false << 0;
    QTest::newRow("answer while it waits") << true << -1;
}

// The watchdog's wait is handed to the test, so the answer lands inside it
// however slow the machine.
void SupervisionTest::watchdog()
{
    QFETCH(bool, answered);
    QFETCH(int, ended);
    std::optional<DialogFixture> fixture(std::in_place);
    fixture->writeFile("Description.xml", description(newVersionHeader(), twoPackages));
    int endedWith = -1;
    fixture->dialog().setProcessEnd([&](int status) { endedWith = status; });
    QSemaphore asleep;
    QSemaphore wake;
    std::chrono::milliseconds asked{0};
    CMUpdater::Timing timing;
    timing.checkEndPause = std::chrono::milliseconds(0);
    timing.stopPause = std::chrono::milliseconds(0);
    timing.watchdogSleep = [&](std::chrono::milliseconds pause) {
        asked = pause;
        asleep.release();
        wake.acquire();
    };
    fixture->dialog().setTiming(timing);
    fixture->dialog().startWatchdog();
    QVERIFY(asleep.tryAcquire(1, 5000));
    QCOMPARE(asked, std::chrono::milliseconds(10000));
    if (answered)
        fixture->onAgentThread([&] { fixture->dialog().HaveNewVersion(); });
    wake.release();
    if (!answered)
        QTRY_COMPARE_WITH_TIMEOUT(endedWith, 0, 5000);
    QCOMPARE(fixture->dialog().isVisible(), answered);
    fixture.reset(); // the watchdog has ended
    QCOMPARE(endedWith, ended);
}

void SupervisionTest::printsOnlyKnownStates_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("printed");
    QTest::newRow("0") << 0 << QStringList();
    QTest::newRow("8") << 8 << QStringList();
    QTest::newRow("1") << 1 << QStringList{"CHECKVERSION_STATE_LOCALVERSION"};
    QTest::newRow("5") << 5 << QStringList{"CHECKVERSION_STATE_DOWNLOADING_FAILED"};
    QTest::newRow("7") << 7 << QStringList{"CHECKVERSION_STATE_NO_DOWNLOADING"};
}

void SupervisionTest::printsOnlyKnownStates()
{
    QFETCH(int, state);
    QFETCH(QStringList, printed);
    DialogFixture fixture;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
    fixture.dialog().ManualUpdateState(state);
    qInstallMessageHandler(previous);
    QCOMPARE(warnings, printed);
}

void SupervisionTest::addsEachDownloadLineOnce()
{
    DialogFixture fixture;
    fixture.writeFile("Description.xml", description(newVersionHeader(), twoPackages));
    fixture.onAgentThread([&] {
        fixture.dialog().HaveNewVersion();
        for (int percent : {0, 0, 50, 100, 100})
            fixture.dialog().DownloadProcess("sw.zip", percent);
    });
    QCOMPARE(listLines(fixture),
             QStringList({"Downloading software packages...", "Download succeed"}));
    QCOMPARE(barValue(fixture), 100);
    fixture.onAgentThread([&] {
        for (int percent : {0, 40})
            fixture.dialog().DownloadProcess("fw.zip", percent);
    });
    QCOMPARE(listLines(fixture),
             QStringList({"Downloading software packages...", "Download succeed",
                          "Downloading firmware packages..."}));
    QCOMPARE(barValue(fixture), 40);
}

void SupervisionTest::ignoresProgressOfAnotherFile()
{
    DialogFixture fixture;
    fixture.writeFile("Description.xml", description(newVersionHeader(), twoPackages));
    fixture.onAgentThread([&] {
        fixture.dialog().HaveNewVersion();
        fixture.dialog().DownloadProcess("sw.zip", 30);
        fixture.dialog().DownloadProcess("SW.ZIP", 0);
        fixture.dialog().DownloadProcess("other.zip", 100);
    });
    QVERIFY(listLines(fixture).isEmpty());
    QCOMPARE(barValue(fixture), 30);
}

void SupervisionTest::countsSharedNamesForTheSoftware()
{
    DialogFixture fixture;
    fixture.writeFile("Description.xml",
                      description(newVersionHeader(), package("Software Version", "same.zip") +
                                                          package("Firmware Version", "same.zip")));
    fixture.onAgentThread([&] {
        fixture.dialog().HaveNewVersion();
        fixture.dialog().DownloadProcess("same.zip", 0);
        fixture.dialog().DownloadProcess("same.zip", 0);
    });
    QCOMPARE(listLines(fixture), QStringList{"Downloading software packages..."});
}

void SupervisionTest::addsEachFirmwareStatusOnce()
{
    DialogFixture fixture;
    const std::vector<std::pair<int, int>> reports = {{0, 5},   {17, 10},  {17, 20}, {31, 30},
                                                      {-1, 40}, {18, 150}, {18, -3}};
    fixture.onAgentThread([&] {
        for (auto [status, progress] : reports) {
            _PDLData data{0, 0, status, progress};
            fixture.dialog().getPDLData(&data);
        }
    });
    QCOMPARE(listLines(fixture),
             QStringList({"Downloading...", "Download Failed", "Download Successfully"}));
    // Out-of-range values reach the bar unchanged, which keeps its last valid value.
    QCOMPARE(barValue(fixture), 40);
}

void SupervisionTest::flashesTheUnpackedPackage()
{
    DialogFixture fixture;
    fixture.writeFile("Description.xml",
                      description(newVersionHeader(), package("Firmware Version", "fw.zip")));
    makeFirmwarePackage(fixture, "mkdir -p efs && echo image > amss.mbn && echo nv > efs/nv.cfg && "
                                 "echo read me > README.txt && zip -q -r fw.zip amss.mbn efs "
                                 "README.txt && rm -r amss.mbn efs README.txt");
    FakePlatform::instance().reports = {{0, 0, 0, 10}, {0, 0, 18, 100}};
    bool flashed = false;
    fixture.onAgentThread([&] {
        fixture.dialog().HaveNewVersion();
        flashed = fixture.dialog().updateFW();
    });
    QVERIFY(flashed);
    QCOMPARE(FakePlatform::instance().flashes, 1);
    QCOMPARE(FakePlatform::instance().imageDir, fixture.path("download"));
    // Every file of the package is handed over, whatever its name.
    QCOMPARE(FakePlatform::instance().imageFiles, (QStringList{"amss.mbn", "README.txt"}));
    QCOMPARE(listLines(fixture), QStringList({"Downloading...", "Download Successfully"}));
    QVERIFY(!QFile::exists(fixture.path("download")));
    QVERIFY(QFile::exists(fixture.path("fw.zip")));
}

void SupervisionTest::refusesAPackageWithoutACleanFile_data()
{
    QTest::addColumn<QString>("commands");
    // Stored, so that the byte changed lies in the file's data: unzip sees a bad CRC.
    QTest::newRow("bad CRC") << "head -c 100 /dev/zero > amss.mbn && zip -q -0 fw.zip amss.mbn && "
                                "printf X | dd of=fw.zip bs=1 seek=120 conv=notrunc 2>/dev/null";
    QTest::newRow("no file") << "mkdir fw && ln -s nowhere fw/image && zip -q -r -y fw.zip fw";
    QTest::newRow("not a zip") << "echo '<html>' > fw.zip";
}

void SupervisionTest::refusesAPackageWithoutACleanFile()
{
    QFETCH(QString, commands);
    DialogFixture fixture;
    fixture.writeFile("Description.xml",
                      description(newVersionHeader(), package("Firmware Version", "fw.zip")));
    makeFirmwarePackage(fixture, commands);
    bool flashed = true;
    fixture.onAgentThread([&] {
        fixture.dialog().HaveNewVersion();
        flashed = fixture.dialog().updateFW();
    });
    QVERIFY(!flashed);
    QCOMPARE(FakePlatform::instance().flashes, 0);
    QCOMPARE(listLines(fixture), QStringList{"Update  firmware failed."});
    QCOMPARE(barValue(fixture), 100);
    QVERIFY(!fixture.dialog().findChild<QLabel*>("updateFWLabel")->font().bold());
    QVERIFY(!QFile::exists(fixture.path("download")));
}

void SupervisionTest::failedFlashIsToldInAWarningBox()
{
    LocalShell shell;
    DialogFixture fixture;
    fixture.writeFile("Description.xml",
                      description(newVersionHeader(), package("Firmware Version", "fw.zip")));
    makeFirmwarePackage(fixture, "echo image > amss.mbn && zip -q fw.zip amss.mbn");
    FakePlatform::instance().reports = {{0, 0, 27, 50}, {0, 0, 17, 50}};
    FakePlatform::instance().flashSucceeds = false;
    fixture.session().selectedModule = SELECTED_FIRMWARE;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QTest::ignoreMessage(QtWarningMsg, "firmware update failed");
    fixture.onAgentThread([&] {
        fixture.dialog().HaveNewVersion();
        fixture.dialog().DownloadFinished(true);
    });
    QCOMPARE(MessageBox::takeLastText(),
             QString("The modem firmware was not updated. Keep the modem plugged in and run the "
                     "update again."));
    QCOMPARE(FakePlatform::instance().flashes, 1);
    QVERIFY(!QFile::exists(fixture.path("Description.xml")));
}

QTEST_MAIN(SupervisionTest)
#include "tst_supervision.moc"
