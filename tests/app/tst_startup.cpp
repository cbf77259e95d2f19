#include "agent/updateinfo.h"
#include "base/installation.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The settings as start-up reads them, and the client record it fills.
class StartupTest final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void readsWhatOnlyTheUpdaterUses_data();
    void readsWhatOnlyTheUpdaterUses();
    void fillsTheIdentityForTheCheck_data();
    void fillsTheIdentityForTheCheck();

private:
    void writeSettings(const QByteArray& content) const;

    QTemporaryDir installation;
};

void StartupTest::init()
{
    QVERIFY(installation.isValid());
}

void StartupTest::writeSettings(const QByteArray& content) const
{
    QFile file(installation.filePath("UpdateCfg.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void StartupTest::readsWhatOnlyTheUpdaterUses_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("appPath");
    QTest::addColumn<bool>("deviceReady");
    QTest::newRow("defaults") << QByteArray() << QByteArray("/opt/Kestrel") << true;
    QTest::newRow("ready") << QByteArray("[UPDATE]\nDeviceReady=1\n") << QByteArray("/opt/Kestrel")
                           << true;
    QTest::newRow("not ready") << QByteArray("[UPDATE]\nDeviceReady=0\n")
                               << QByteArray("/opt/Kestrel") << false;
    QTest::newRow("true is not 1")
        << QByteArray("[UPDATE]\nDeviceReady=true\n") << QByteArray("/opt/Kestrel") << false;
    QTest::newRow("path in its section")
        << QByteArray("[Service]\nAPP_PATH=/srv/cm\n") << QByteArray("/srv/cm") << true;
    QTest::newRow("path in the wrong section")
        << QByteArray("[UPDATE]\nAPP_PATH=/srv/cm\n") << QByteArray("/opt/Kestrel") << true;
}

void StartupTest::readsWhatOnlyTheUpdaterUses()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, appPath);
    QFETCH(bool, deviceReady);
    if (!content.isEmpty())
        writeSettings(content);
    const Installation read = Installation::load(installation.path());
    QCOMPARE(read.settings.appPath, appPath);
    QCOMPARE(read.DeviceReady, deviceReady);
    QCOMPARE(clientRecord(read).deviceReady, deviceReady);
}

void StartupTest::fillsTheIdentityForTheCheck_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QByteArray>("firmwareVersion");
    QTest::addColumn<QByteArray>("imei");
    QTest::addColumn<QByteArray>("language");
    const QByteArray identity = "IMEI_ID=123456789012345\nCLINT_GROUP=retail\n";
    QTest::newRow("firmware version alone")
        << "[UPDATE]\nFIRMWARE_VERSION=F1\n" + identity << true << QByteArray("F1")
        << QByteArray("123456789012345") << QByteArray("en_US");
    QTest::newRow("no version") << "[UPDATE]\n" + identity << false << QByteArray()
                                << QByteArray("123456789012345") << QByteArray("en_US");
    QTest::newRow("cut to the buffers")
        << QByteArray("[UPDATE]\nSOFTWARE_VERSION=1.0\nFIRMWARE_VERSION=F1.0.0.0.0.0.0.0.9\n"
                      "IMEI_ID=12345678901234567890\nCLINT_GROUP=retail\n"
                      "LANGUAGE_TYPE=de_DE.UTF-8@euro\n")
        << true << QByteArray("F1.0.0.0.0.0.0.") << QByteArray("123456789012345")
        << QByteArray("de_DE.UTF-8@eu");
}

void StartupTest::fillsTheIdentityForTheCheck()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, complete);
    QFETCH(QByteArray, firmwareVersion);
    QFETCH(QByteArray, imei);
    QFETCH(QByteArray, language);
    writeSettings(content);
    const Installation read = Installation::load(installation.path());
    QCOMPARE(read.identityComplete(), complete);
    const _CLIENT_INFO client = clientRecord(read).client;
    QCOMPARE(QByteArray(client.firmwareVersion), firmwareVersion);
    QCOMPARE(QByteArray(client.imei), imei);
    QCOMPARE(QByteArray(client.language), language);
    QCOMPARE(QByteArray(client.os), QByteArray("linux"));
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
