#include "localdaemons.h"
#include "sandbox.h"
#include "session/reportdelivery.h"
#include "updatesource.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

// The publisher's tool: its status, and its output in out.
int publish(const QStringList& arguments, QByteArray* out = nullptr)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(PUBLISH_TOOL, arguments);
    const bool finished = tool.waitForFinished(60000);
    if (out != nullptr)
        *out = tool.readAll();
    return finished ? tool.exitCode() : -1;
}

} // namespace

// Releases against a real web server: the updater's reports land in nginx's
// access log, and the publisher's tool reads them from there; mirrors take
// over from a package's own URL.
class StagesEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void updateLeavesOneReportInTheLog_data();
    void updateLeavesOneReportInTheLog();
    void statsHaltsAFailingRelease_data();
    void statsHaltsAFailingRelease();
    void brokenMirrorsAreLeftForTheNext();
};

void StagesEndToEndTest::updateLeavesOneReportInTheLog_data()
{
    QTest::addColumn<QByteArray>("settings"); // more [UPDATE] lines
    QTest::addColumn<int>("reports");

    QTest::newRow("reports off, as by default") << QByteArray() << 0;
    QTest::newRow("reports on") << QByteArray("REPORTS=1\n") << 1;
}

void StagesEndToEndTest::updateLeavesOneReportInTheLog()
{
    QFETCH(QByteArray, settings);
    QFETCH(int, reports);
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    source.addSoftware("sw.zip", {{"readme.txt", "2.0\n"}});
    Nginx nginx(sandbox.scratch("source"));
    QVERIFY(nginx.listening());
    // The packages come from the web server too.
    QCOMPARE(publish({"describe", "--output", source.packagePath("Description.xml"), "--version",
                      "2.0", "--device", "RX481", "--client-group", "retail", "--url-base",
                      nginx.url(), "--software", source.packagePath("sw.zip")}),
             0);
    QVERIFY(QFile::copy("/bin/sleep", sandbox.path("Kestrel")));
    sandbox.writeSettings(nginx.url(), settings);

    const Sandbox::Result run =
        sandbox.run("./Kestrel 1000 &\n"
                    "env -u DISPLAY -u QT_QPA_PLATFORM ./cmupdater --update\n",
                    120000);
    QVERIFY2(run.out.contains("cmupdater --update: installed"), run.out + run.err);

    const QList<QByteArray> lines = nginx.reportLines();
    QCOMPARE(lines.size(), reports);
    if (reports == 0)
        return;
    // The fields a report carries, and nothing else.
    static const QRegularExpression request(
        R"("GET /reports/1/RX481/1\.0\+F1/2\.0\+F1/installed/-\?n=[0-9a-f]{16} HTTP/1\.1" 404 )");
    QVERIFY2(request.match(QString::fromLatin1(lines.first())).hasMatch(), lines.first());
    QByteArray stats;
    QCOMPARE(publish({"stats", "--json", nginx.log()}, &stats), 0);
    const QJsonArray rows = QJsonDocument::fromJson(stats).array();
    QCOMPARE(rows, QJsonArray({QJsonObject{{"release", "2.0+F1"},
                                           {"device", "RX481"},
                                           {"reports", 1},
                                           {"installed", 1},
                                           {"rolled_back", 0},
                                           {"failed", QJsonObject()},
                                           {"failure_share", 0.0},
                                           {"failure_lower_bound", 0.0}}}));
}

void StagesEndToEndTest::statsHaltsAFailingRelease_data()
{
    QTest::addColumn<int>("installed");
    QTest::addColumn<int>("rolledBack");
    QTest::addColumn<int>("sends"); // of each rolled-back report: retries log it again
    QTest::addColumn<int>("minimum");
    QTest::addColumn<bool>("halted");

    QTest::newRow("rolled back too often") << 4 << 6 << 1 << 10 << true;
    QTest::newRow("too few reports to tell") << 4 << 6 << 1 << 11 << false;
    QTest::newRow("a retried report counts once") << 8 << 2 << 5 << 10 << false;
}

void StagesEndToEndTest::statsHaltsAFailingRelease()
{
    QFETCH(int, installed);
    QFETCH(int, rolledBack);
    QFETCH(int, sends);
    QFETCH(int, minimum);
    QFETCH(bool, halted);
    QTemporaryDir dir;
    const QString description = dir.filePath("Description.xml");
    UpdateSource source(dir.filePath("source"));
    source.addSoftware("sw.zip", {{"readme.txt", "2.0\n"}});
    QCOMPARE(publish({"keygen", dir.filePath("keys")}), 0);
    QCOMPARE(publish({"describe", "--output", description, "--version", "2.0", "--client-group",
                      "retail", "--url-base", "http://updates.example", "--rollout",
                      "10%@0h,50%@24h,100%@72h", "--software", source.packagePath("sw.zip")}),
             0);
    Nginx nginx(dir.filePath("source"));
    QVERIFY(nginx.listening());
    const auto send = [&nginx](Result result, Reason reason, int times) {
        const QByteArray path = reportPath({"RX481", "1.0+F1", "2.0+F1", result, reason});
        for (int k = 0; k < times; ++k)
            QVERIFY(sendReport(nginx.url().toUtf8() + '/' + path, std::chrono::seconds(5)));
    };
    for (int k = 0; k < installed; ++k)
        send(Result::Installed, Reason::None, 1);
    for (int k = 0; k < rolledBack; ++k)
        send(Result::RolledBack, Reason::DidNotStart, sends);

    QByteArray out;
    QCOMPARE(
        publish({"stats", "--halt-above", "20%", "--min", QString::number(minimum), "--description",
                 description, "--key", dir.filePath("keys/publisher-key.pem"), nginx.log()},
                &out),
        0);
    QVERIFY2(out.contains(QByteArray::number(installed + rolledBack) + " reports"), out);
    QCOMPARE(out.contains("halting"), halted);
    QFile file(description);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().contains(R"(State="paused")"), halted);
}

// The package's own URL lacks it, the first mirror answers 500, the second
// serves other bytes: the third serves it, and the history names that one.
void StagesEndToEndTest::brokenMirrorsAreLeftForTheNext()
{
    Sandbox sandbox;
    const QString root = sandbox.scratch("source");
    UpdateSource source(root);
    source.addSoftware("sw.zip", {{"readme.txt", "2.0\n"}});
    QFile package(source.packagePath("sw.zip"));
    QVERIFY(package.open(QIODevice::ReadOnly));
    const QByteArray bytes = package.readAll();
    QByteArray other = bytes;
    other[other.size() / 2] = static_cast<char>(~other[other.size() / 2]);
    writeTree(root, {{"good/sw.zip", bytes}, {"wrong/sw.zip", other}});
    Nginx nginx(root, "location /broken/ { return 500; }");
    QVERIFY(nginx.listening());
    const QString good = nginx.url() + "/good/";
    QCOMPARE(publish({"describe", "--output", source.packagePath("Description.xml"), "--version",
                      "2.0", "--device", "RX481", "--client-group", "retail", "--url-base",
                      nginx.url() + "/gone", "--mirror", nginx.url() + "/broken", "--mirror",
                      nginx.url() + "/wrong", "--mirror", good, "--software",
                      source.packagePath("sw.zip")}),
             0);
    QVERIFY(QFile::copy("/bin/sleep", sandbox.path("Kestrel")));
    sandbox.writeSettings(nginx.url());

    const Sandbox::Result run =
        sandbox.run("./Kestrel 1000 &\n"
                    "env -u DISPLAY -u QT_QPA_PLATFORM ./cmupdater --update\n",
                    120000);
    QVERIFY2(run.out.contains("cmupdater --update: installed"), run.out + run.err);
    QVERIFY2(run.out.contains("Downloaded from the mirror " + good.toUtf8()), run.out);
    QFile history(sandbox.path("update-history.jsonl"));
    QVERIFY(history.open(QIODevice::ReadOnly));
    const QByteArray record = history.readAll();
    QVERIFY2(record.contains("\"source\":\"" + good.toUtf8() + '"'), record);
}

QTEST_GUILESS_MAIN(StagesEndToEndTest)
#include "tst_stages_e2e.moc"
