#include "sandbox.h"
#include "session/reportdelivery.h"
#include "updatesource.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

// Debian's nginx on a free loopback port, a child of the test with a
// directory of its own: its access log is the collector of the reports.
class Nginx final {
public:
    explicit Nginx(const QString& root)
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return;
        port = probe.serverPort();
        probe.close();
        const QString prefix = dir.path();
        QFile config(dir.filePath("nginx.conf"));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QString("daemon off;\nmaster_process off;\npid %1/nginx.pid;\n"
                             "error_log %1/error.log;\nevents { worker_connections 64; }\n"
                             "http {\n  access_log %1/access.log combined;\n"
                             "  client_body_temp_path %1/body;\n"
                             "  server { listen 127.0.0.1:%2; root %3; }\n}\n")
                         .arg(prefix)
                         .arg(port)
                         .arg(root)
                         .toUtf8());
        config.close();
        process.start("/usr/sbin/nginx",
                      {"-p", prefix, "-c", config.fileName(), "-e", prefix + "/error.log"});
        process.waitForStarted();
        for (int tries = 0; tries < 100 && !listening(); ++tries)
            QThread::msleep(50);
    }
    ~Nginx()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished();
    }
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool listening() const
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return process.state() == QProcess::Running && socket.waitForConnected(500);
    }
    QString url() const { return QString("http://127.0.0.1:%1").arg(port); }
    QString log() const { return dir.filePath("access.log"); }
    QList<QByteArray> reportLines() const
    {
        QFile file(log());
        QList<QByteArray> lines;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (line.contains("/reports/"))
                    lines << line;
            }
        }
        return lines;
    }

private:
    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;
};

struct ToolRun {
    int status = -1;
    QByteArray out;
};

ToolRun publish(const QStringList& arguments)
{
    QProcess tool;
    tool.start(PUBLISH_TOOL, arguments);
    ToolRun run;
    if (tool.waitForFinished(60000)) {
        run.status = tool.exitCode();
        run.out = tool.readAllStandardOutput() + tool.readAllStandardError();
    }
    return run;
}

QJsonObject onlyRow(const QByteArray& json)
{
    const QJsonArray rows = QJsonDocument::fromJson(json).array();
    return rows.size() == 1 ? rows.first().toObject() : QJsonObject();
}

} // namespace

// A release in stages against a real web server: the updater's reports land
// in nginx's access log, and the publisher's tool reads them from there.
class StagesEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void updateLeavesOneReportInTheLog_data();
    void updateLeavesOneReportInTheLog();
    void statsHaltsAFailingRelease_data();
    void statsHaltsAFailingRelease();
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
                      nginx.url(), "--software", source.packagePath("sw.zip")})
                 .status,
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
    const ToolRun stats = publish({"stats", "--json", nginx.log()});
    QCOMPARE(stats.status, 0);
    const QJsonObject row = onlyRow(stats.out);
    QCOMPARE(row.value("release").toString(), "2.0+F1");
    QCOMPARE(row.value("reports").toInt(), 1);
    QCOMPARE(row.value("installed").toInt(), 1);
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
    QCOMPARE(publish({"keygen", dir.filePath("keys")}).status, 0);
    QCOMPARE(publish({"describe", "--output", description, "--version", "2.0", "--client-group",
                      "retail", "--url-base", "http://updates.example", "--rollout",
                      "10%@0h,50%@24h,100%@72h", "--software", source.packagePath("sw.zip")})
                 .status,
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

    const ToolRun stats =
        publish({"stats", "--halt-above", "20%", "--min", QString::number(minimum), "--description",
                 description, "--key", dir.filePath("keys/publisher-key.pem"), nginx.log()});
    QVERIFY2(stats.status == 0, stats.out);
    QVERIFY2(stats.out.contains(QByteArray::number(installed + rolledBack) + " reports"),
             stats.out);
    QCOMPARE(stats.out.contains("halting"), halted);
    QFile file(description);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().contains(R"(State="paused")"), halted);
}

QTEST_GUILESS_MAIN(StagesEndToEndTest)
#include "tst_stages_e2e.moc"
