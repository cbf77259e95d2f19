#include "sandbox.h"

#include "agent/LocalHttpServer.h"

#include <QFile>
#include <QTcpServer>
#include <QtTest>

namespace {

const QByteArray defaultReport = "RX481\r\n\r\n\r\n\r\n\r\nen_US\r\n1\r\n";

QByteArray lockContent(const QByteArray& pid)
{
    return pid.trimmed() + QByteArray(1, '\0');
}

} // namespace

// The installed updater from its start to its first way out.
class StartupEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void reportsDefaultsWithoutSettings();
    void reportsTheSettingsByteForByte();
    void endsAtOnceForAnIncompleteIdentity();
    void checksWithTheFirmwareVersionAlone();
    void unusableLockFileEndsWithOne_data();
    void unusableLockFileEndsWithOne();
    void secondStartLeavesTheFirstAlone();
    void staleLockDoesNotBlock();
    void watchdogEndsASilentServer();
    void refusesAnInstallationPathTooLong();
};

void StartupEndToEndTest::reportsDefaultsWithoutSettings()
{
    Sandbox sandbox;
    QFile::remove(sandbox.path("UpdateCfg.ini"));
    const auto result = sandbox.run("./cmupdater");
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, defaultReport);
    QCOMPARE(result.out.size(), 25);
}

void StartupEndToEndTest::reportsTheSettingsByteForByte()
{
    Sandbox sandbox;
    sandbox.writeFile(sandbox.path("UpdateCfg.ini"),
                      "[UPDATE]\nDEVICE=RX 481 \xc3\xa9\nFIRMWARE_VERSION=F1.0.0.0.0.0.0.0.9\n"
                      "CLINT_GROUP=retail\nLANGUAGE_TYPE=de_DE\nDeviceReady=true\n"
                      "[Service]\nIMEI_ID=in the wrong section\n");
    const auto result = sandbox.run("./cmupdater");
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray("RX 481 \xc3\xa9\r\n\r\nF1.0.0.0.0.0.0.\r\n\r\nretail\r\n"
                                    "de_DE\r\ntrue\r\n"));
}

void StartupEndToEndTest::endsAtOnceForAnIncompleteIdentity()
{
    Sandbox sandbox;
    sandbox.writeFile(
        sandbox.path("UpdateCfg.ini"),
        "[UPDATE]\nSOFTWARE_VERSION=1.0\nIMEI_ID=123\n[AGENT]\nSERVER_URL=file:///x\n");
    const auto result = sandbox.run("./cmupdater");
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray("RX481\r\n1.0\r\n\r\n123\r\n\r\nen_US\r\n1\r\n"));
    QVERIFY2(result.elapsedMs < 3000, qPrintable(QString::number(result.elapsedMs)));
}

// The identity reaches the agent cut to the settings' buffers; the server's
// 404 is a failed check, which ends the updater after its pause.
void StartupEndToEndTest::checksWithTheFirmwareVersionAlone()
{
    LocalHttpServer server;
    Sandbox sandbox;
    sandbox.writeFile(sandbox.path("UpdateCfg.ini"),
                      "[UPDATE]\nFIRMWARE_VERSION=F1\nIMEI_ID=12345678901234567890\n"
                      "CLINT_GROUP=retail\nLANGUAGE_TYPE=de_DE.UTF-8@euro\n"
                      "[AGENT]\nSERVER_URL=" +
                          server.url().toUtf8() + "\n");
    const auto result = sandbox.run("./cmupdater", 30000);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray("RX481\r\n\r\nF1\r\n123456789012345\r\nretail\r\n"
                                    "de_DE.UTF-8@eu\r\n1\r\n"));
    const QByteArray query = "?os=linux&device=RX481&softwareVersion=&firmwareVersion=F1&"
                             "imei=123456789012345&clientGroup=retail&language=de_DE.UTF-8%40eu";
    QCOMPARE(server.requests(),
             (QList<QByteArray>{"/Keys.xml" + query, "/Description.xml" + query}));
}

void StartupEndToEndTest::unusableLockFileEndsWithOne_data()
{
    QTest::addColumn<QString>("lockFile");
    QTest::newRow("a directory") << "mkdir /run/updateDaemon.pid";
    QTest::newRow("on a read-only file system") << "ln -s /usr/updateDaemon.pid /run";
}

void StartupEndToEndTest::unusableLockFileEndsWithOne()
{
    QFETCH(QString, lockFile);
    Sandbox sandbox;
    const auto result = sandbox.run(lockFile + "\n./cmupdater");
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray());
}

void StartupEndToEndTest::secondStartLeavesTheFirstAlone()
{
    Sandbox sandbox;
    // No description to be had: the first updater reports a failed check and
    // ends after its pause, long enough for a second start.
    sandbox.writeSettings("file://" + sandbox.scratch("nothing-here"));
    const auto result = sandbox.run("./cmupdater > first.out & first=$!\n"
                                    "sleep 1\n"
                                    "./cmupdater > second.out; echo $? > second.rc\n"
                                    "cp /run/updateDaemon.pid lock\n"
                                    "echo $first > first.pid\n"
                                    "wait $first; echo $? > first.rc\n");
    QVERIFY(result.finished);
    QCOMPARE(sandbox.readFile(sandbox.path("second.rc")), QByteArray("0\n"));
    QCOMPARE(sandbox.readFile(sandbox.path("second.out")), QByteArray());
    QCOMPARE(sandbox.readFile(sandbox.path("lock")),
             lockContent(sandbox.readFile(sandbox.path("first.pid"))));
    QCOMPARE(sandbox.readFile(sandbox.path("first.rc")), QByteArray("0\n"));
    QVERIFY(sandbox.readFile(sandbox.path("first.out")).startsWith("RX481\r\n1.0\r\n"));
}

void StartupEndToEndTest::staleLockDoesNotBlock()
{
    Sandbox sandbox;
    QFile::remove(sandbox.path("UpdateCfg.ini"));
    const auto result = sandbox.run("printf '99999\\0' > /run/updateDaemon.pid\n"
                                    "./cmupdater & pid=$!\n"
                                    "wait $pid; echo $? > rc\n"
                                    "echo $pid > pid\n"
                                    "cp /run/updateDaemon.pid lock\n");
    QCOMPARE(result.out, defaultReport);
    QCOMPARE(sandbox.readFile(sandbox.path("rc")), QByteArray("0\n"));
    QCOMPARE(sandbox.readFile(sandbox.path("lock")),
             lockContent(sandbox.readFile(sandbox.path("pid"))));
}

void StartupEndToEndTest::watchdogEndsASilentServer()
{
    // The kernel accepts the connection; nobody ever answers it.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    Sandbox sandbox;
    sandbox.writeSettings(QString("http://127.0.0.1:%1/updates").arg(server.serverPort()));
    // Standard output is a pipe to this test, as it is to the connection manager.
    const auto result = sandbox.run("./cmupdater", 30000);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray("RX481\r\n1.0\r\nF1\r\n123456789012345\r\nretail\r\n"
                                    "en_US\r\n1\r\n"));
    QVERIFY2(result.elapsedMs >= 9500 && result.elapsedMs < 16000,
             qPrintable(QString::number(result.elapsedMs)));
    QVERIFY(server.waitForNewConnection(0));
}

void StartupEndToEndTest::refusesAnInstallationPathTooLong()
{
    Sandbox sandbox;
    const QString deep = sandbox.scratch(QString(120, 'd') + '/' + QString(120, 'e'));
    QVERIFY(QDir().mkpath(deep));
    QVERIFY(QFile::copy(sandbox.path("cmupdater"), deep + "/cmupdater"));
    for (const QString& library : QDir(sandbox.installation()).entryList({"*.so"}))
        QVERIFY(QFile::copy(sandbox.path(library), deep + '/' + library));
    const auto result = sandbox.run("'" + deep + "/cmupdater'");
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray());
    QVERIFY(result.err.contains("installation path is too long"));
}

QTEST_MAIN(StartupEndToEndTest)
#include "tst_startup_e2e.moc"
