#include "agent/LocalHttpServer.h"
#include "base/installation.h"
#include "session/reportdelivery.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// How the server stands for one run.
enum class Server { Up, Down, Failing, Silent };

struct Run {
    Server server;
    Result result;
    Reason reason;
};

using Runs = QList<Run>;

} // namespace

Q_DECLARE_METATYPE(Runs)

// The outcome reports: only when asked for, one per outcome, sent again
// until a server takes it, never longer than their budget.
class ReportsTest : public QObject {
    Q_OBJECT

private slots:
    void sendsEachOutcomeOnce_data();
    void sendsEachOutcomeOnce();
};

void ReportsTest::sendsEachOutcomeOnce_data()
{
    QTest::addColumn<bool>("reports");
    QTest::addColumn<Runs>("runs");
    // Reports the server took, in order, by result word; the rest stay queued.
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<int>("queued");

    const Run installed{Server::Up, Result::Installed, Reason::None};
    const Run rolledBackWhileDown{Server::Down, Result::RolledBack, Reason::DidNotStart};
    QTest::newRow("off, as by default") << false << Runs{installed} << QStringList{} << 0;
    QTest::newRow("one report per outcome")
        << true << Runs{installed, {Server::Up, Result::Failed, Reason::CopyFailed}}
        << QStringList{"installed/-", "failed/copy-failed"} << 0;
    QTest::newRow("queued while the link is down, sent once later")
        << true << Runs{rolledBackWhileDown, installed}
        << QStringList{"rolled-back/did-not-start", "installed/-"} << 0;
    QTest::newRow("a server error keeps it")
        << true << Runs{{Server::Failing, Result::Refused, Reason::NotNewer}} << QStringList{} << 1;
    QTest::newRow("a silent server costs no more than the budget")
        << true << Runs{{Server::Silent, Result::CheckFailed, Reason::NoAnswer}} << QStringList{}
        << 1;
}

void ReportsTest::sendsEachOutcomeOnce()
{
    QFETCH(bool, reports);
    QFETCH(Runs, runs);
    QFETCH(QStringList, taken);
    QFETCH(int, queued);
    QTemporaryDir base;
    LocalHttpServer server;
    QList<QByteArray> received;
    for (const Run& run : runs) {
        server.reset();
        if (run.server == Server::Failing || run.server == Server::Silent) {
            HttpReply reply(500);
            reply.silent = run.server == Server::Silent;
            server.setReplies("/reports/1/RX481/1.0+F1/2.0+F2/" + QByteArray(word(run.result)) +
                                  '/' + word(run.reason),
                              {reply});
        }
        Installation installation = Installation::at(base.path());
        installation.REPORTS = reports;
        installation.SERVER_URL =
            run.server == Server::Down ? LocalHttpServer::closedPortUrl() : server.url() + "/";
        ReportDelivery delivery(installation);
        QElapsedTimer clock;
        clock.start();
        delivery.start(ReportedRun{"RX481", "1.0+F1", "2.0+F2", run.result, run.reason});
        delivery.finish();
        QVERIFY(clock.elapsed() < std::chrono::milliseconds(reportBudget).count() + 2000);
        if (run.server == Server::Up)
            received << server.requests();
    }
    static const QRegularExpression reportPattern(
        "^/reports/1/RX481/1\\.0\\+F1/2\\.0\\+F2/([a-z-]+/[a-z-]+)\\?n=[0-9a-f]{16}$");
    QStringList words;
    for (const QByteArray& request : received) {
        const QRegularExpressionMatch match = reportPattern.match(QString::fromLatin1(request));
        QVERIFY2(match.hasMatch(), request.constData());
        words << match.captured(1);
    }
    QCOMPARE(words, taken);
    // Each outcome's nonce once: a report sent again is the same report.
    QCOMPARE(QSet<QByteArray>(received.begin(), received.end()).size(), received.size());
    QCOMPARE(readReportQueue(base.path(), QDateTime::currentDateTimeUtc()).size(), queued);
    QCOMPARE(QFile::exists(base.filePath(reportQueueFileName)), queued > 0);
}

QTEST_GUILESS_MAIN(ReportsTest)
#include "tst_reports.moc"
