#include "agent/LocalHttpServer.h"
#include "localdaemons.h"
#include "sandbox.h"
#include "updatesource.h"

#include <QDirIterator>
#include <QtTest>

namespace {

const QByteArray proxyUser = "officeuser";
const QByteArray proxyPassword = "s3cretPw7";

// Every file of the installation the updater wrote, and the run's output:
// the places a proxy's credentials must never reach. The settings file holds
// them when the setting does: it is the administrator's, not the updater's.
QStringList credentialsLeaks(const Sandbox& sandbox, const Sandbox::Result& run)
{
    QStringList leaks;
    const auto check = [&leaks](const QString& where, const QByteArray& content) {
        if (content.contains(proxyPassword) || content.contains(proxyUser))
            leaks << where;
    };
    check("output", run.out + run.err);
    QDirIterator files(sandbox.installation(), QDir::Files | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (!path.endsWith("/UpdateCfg.ini"))
            check(path, sandbox.readFile(path));
    }
    return leaks;
}

void prepareSoftware(Sandbox& sandbox, UpdateSource& source, const QString& packagesUrl)
{
    source.addSoftware("sw.zip", {{"readme.txt", "2.0\n"}});
    source.servePackagesFrom(packagesUrl);
    source.publish();
    QVERIFY(QFile::copy("/bin/sleep", sandbox.path("Kestrel")));
}

} // namespace

// The roads an update takes off the easy path: through an office's proxy, and
// over a link that stops sending.
class RoadsEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void updateGoesThroughTheProxy_data();
    void updateGoesThroughTheProxy();
    void stalledPackageIsLeftAndContinued();
};

void RoadsEndToEndTest::updateGoesThroughTheProxy_data()
{
    QTest::addColumn<QByteArray>("password"); // the one the updater is given
    QTest::addColumn<bool>("bySetting");      // PROXY=, else the caller's http_proxy
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("outcome");

    QTest::newRow("by the setting") << proxyPassword << true << QByteArray("--update")
                                    << QByteArray("cmupdater --update: installed");
    QTest::newRow("by the caller's variable") << proxyPassword << false << QByteArray("--update")
                                              << QByteArray("cmupdater --update: installed");
    QTest::newRow("wrong password") << proxyPassword + "x" << true << QByteArray("--check")
                                    << QByteArray("check-failed: proxy-failed");
}

void RoadsEndToEndTest::updateGoesThroughTheProxy()
{
    QFETCH(QByteArray, password);
    QFETCH(bool, bySetting);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, outcome);
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    const Nginx nginx(sandbox.scratch("source"));
    const Tinyproxy proxy(proxyUser, proxyPassword);
    QVERIFY(nginx.listening() && proxy.listening());
    prepareSoftware(sandbox, source, nginx.url());
    const QString proxyUrl =
        QString("http://%1:%2@127.0.0.1:%3").arg(proxyUser, password).arg(proxy.port());
    sandbox.writeSettings(nginx.url(), "REPORTS=1\n");
    if (bySetting) {
        const QString settings = sandbox.path("UpdateCfg.ini");
        sandbox.writeFile(settings,
                          sandbox.readFile(settings) + "PROXY=" + proxyUrl.toUtf8() + '\n');
    } else {
        sandbox.setEnv("http_proxy", proxyUrl);
    }
    sandbox.setEnv("no_proxy", "example.invalid"); // whatever the machine's says

    const Sandbox::Result run =
        sandbox.run("env -u DISPLAY -u QT_QPA_PLATFORM ./cmupdater " + command + '\n', 120000);
    QVERIFY2(run.out.contains(outcome), run.out + run.err);
    QCOMPARE(credentialsLeaks(sandbox, run), QStringList());
    const QByteArray log = proxy.log();
    const QByteArray target = "GET " + nginx.url().toUtf8();
    if (command == "--check") {
        QVERIFY2(run.err.contains(
                     QString("the proxy ***@127.0.0.1:%1 refused").arg(proxy.port()).toUtf8()),
                 run.err);
        return;
    }
    QVERIFY2(log.contains(target + "/Description.xml?") && log.contains(target + "/sw.zip") &&
                 log.contains(target + "/reports/"),
             log);
}

// The package's server stops sending halfway and keeps the connection open:
// the agent leaves it after STALL_TIME (30 s, the default) and continues the
// file where it stopped.
void RoadsEndToEndTest::stalledPackageIsLeftAndContinued()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    LocalHttpServer server;
    prepareSoftware(sandbox, source, server.url());
    sandbox.writeSettings(source.url());
    sandbox.setEnv("no_proxy", "127.0.0.1");
    const QByteArray package = sandbox.readFile(source.packagePath("sw.zip"));
    HttpReply stalled(200, package);
    stalled.etag = "\"sw-2.0\"";
    stalled.stallAt = package.size() / 2;
    stalled.stallMs = 120000;
    HttpReply whole = stalled;
    whole.stallAt = -1;
    server.setReplies("/sw.zip", {stalled, whole});

    const Sandbox::Result run =
        sandbox.run("env -u DISPLAY -u QT_QPA_PLATFORM ./cmupdater --update\n", 120000);
    QVERIFY2(run.out.contains("cmupdater --update: installed"), run.out + run.err);
    QVERIFY2(run.err.contains("(fewer than 1024 bytes in 30 s)"), run.err);
    QVERIFY2(run.elapsedMs < 40000, qPrintable(QString::number(run.elapsedMs)));
    qInfo("left the stalled link and installed in %lld ms", run.elapsedMs);
    QCOMPARE(server.requests().size(), 2);
    QCOMPARE(server.bytesServed(), package.size()); // the second try went on from the first
}

QTEST_GUILESS_MAIN(RoadsEndToEndTest)
#include "tst_roads_e2e.moc"
