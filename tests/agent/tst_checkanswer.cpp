#include "agent/checkanswer.h"
#include "packages/knownbad.h"
#include "packages/xmlparser.h"
#include "trust/descriptionbinding.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QByteArray badMd5 = "0123456789abcdef0123456789abcdef";

QByteArray newVersion(const QByteArray& md5)
{
    return "<?xml version=\"1.0\"?><Update><Info><Version>2.0</Version><Description>d"
           "</Description><Device>RX481</Device><ClientGroup>g</ClientGroup><ClientID>c"
           "</ClientID></Info><Packages><Package Class=\"Software Version\" Filename=\"sw.zip\" "
           "Size=\"348\" MD5=\"" +
           md5 +
           "\" URL=\"http://h/sw.zip\" PriorityFlag=\"1\" Version=\"2.0\">t</Package>"
           "</Packages><Servers/></Update>";
}

// A new version in stages: its rollout after the header's two times.
QByteArray staged(const QByteArray& rollout)
{
    const QByteArray times = "<Issued>2026-11-01T00:00:00Z</Issued><Expires>2027-01-01T00:00:00Z"
                             "</Expires>";
    QByteArray xml = newVersion("00112233445566778899aabbccddeeff");
    return xml.replace("</ClientID>", "</ClientID>" + times + "<Rollout " + rollout + "/>");
}

constexpr qint64 checkedAt = 1'796'000'000;

CheckOutcome checkOnce(const QString& basePath, const QByteArray& answer, bool early = false)
{
    QFile::remove(basePath + "/Description.xml");
    QFile::remove(basePath + "/Description.xml.failed");
    // "!word": no description, and the agent's word for why beside it.
    const bool missing = answer == "-" || answer.startsWith('!');
    QFile file(basePath + (missing ? "/Description.xml.failed" : "/Description.xml"));
    if (answer != "-" && !(file.open(QIODevice::WriteOnly) && file.write(answer.mid(missing)) > 0))
        return {Result::CheckFailed};
    file.close();
    XmlParser parser;
    return judgeCheckAnswer(basePath, parser, {"g", "1.0", "F1"}, {checkedAt, early});
}

QByteArray flagged(const QByteArray& flag)
{
    return "<?xml version=\"1.0\"?><Update><Flag>" + flag + "</Flag></Update>";
}

// What the agent leaves for one check; "-" for nothing at all.
using Answers = QList<QByteArray>;

} // namespace

// Every way a check ends, as the history and the last check tell it.
class CheckAnswerTest : public QObject {
    Q_OBJECT

private slots:
    void recordsEveryCheckOutcome_data();
    void recordsEveryCheckOutcome();
    void offersAStagedReleaseToItsShare_data();
    void offersAStagedReleaseToItsShare();
};

void CheckAnswerTest::recordsEveryCheckOutcome_data()
{
    QTest::addColumn<Answers>("answers");     // one check each, in order
    QTest::addColumn<QString>("lastCheck");   // result of the last check's line
    QTest::addColumn<QStringList>("records"); // "result reason count", oldest first

    const QByteArray down = "-";
    const QByteArray fresh = newVersion("00112233445566778899aabbccddeeff");
    const QByteArray known = newVersion(badMd5);
    QTest::newRow("server down every hour") << Answers{down, down, down} << "check-failed"
                                            << QStringList{"check-failed server-unreachable 3"};
    QTest::newRow("up to date between two failures")
        << Answers{down, flagged("1"), down} << "check-failed"
        << QStringList{"check-failed server-unreachable 2"};
    // The agent's word says which road failed; one it does not know is no road of its own.
    QTest::newRow("the road that failed, by the agent's word")
        << Answers{down,       "!no-description", "!proxy-failed",      "!proxy-failed",
                   "!stalled", "!rm -rf",         "!server-unreachable"}
        << "check-failed"
        << QStringList{"check-failed server-unreachable 1", "check-failed no-description 1",
                       "check-failed proxy-failed 2", "check-failed stalled 1",
                       "check-failed server-unreachable 2"};
    QTest::newRow("up to date leaves no record")
        << Answers{flagged("3")} << "up-to-date" << QStringList{};
    QTest::newRow("different failures stay apart")
        << Answers{down, flagged("0"), flagged("abc"), "<Update"} << "check-failed"
        << QStringList{"check-failed server-unreachable 1", "check-failed failed-status 2",
                       "check-failed no-description 1"};
    QTest::newRow("a new version is offered") << Answers{fresh} << "offered" << QStringList{};
    QTest::newRow("a failed package is not offered again")
        << Answers{known, known} << "refused" << QStringList{"refused known-bad 2"};
    const QByteArray paused =
        staged(R"(Start="2026-11-01T00:00:00Z" Steps="100%@0h" State="paused")");
    QTest::newRow("held back like any repeat")
        << Answers{paused, paused} << "held-back" << QStringList{"held-back  2"};
    QTest::newRow("a rollout that cannot be read is refused")
        << Answers{staged(R"(Start="2026-12-01T00:00:00Z" Steps="50%" State="active")")}
        << "refused" << QStringList{"refused refused 1"};
}

void CheckAnswerTest::recordsEveryCheckOutcome()
{
    QFETCH(Answers, answers);
    QFETCH(QString, lastCheck);
    QFETCH(QStringList, records);
    // The answer is read where the caller says, whatever else the process holds.
    QTemporaryDir base;
    QVERIFY(rememberKnownBad(base.path(), "md5:" + badMd5));

    for (const QByteArray& answer : answers) {
        const QDateTime started = QDateTime::currentDateTimeUtc();
        recordCheck(base.path(), checkOnce(base.path(), answer), started);
    }

    QStringList stored;
    for (const QByteArray& line : readHistory(base.path())) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        stored << record.value("result").toString() + ' ' + record.value("reason").toString() +
                      ' ' + QString::number(record.value("count").toInt(1));
        QVERIFY(record.value("started").toString() <= record.value("ended").toString());
    }
    QCOMPARE(stored, records);
    QFile check(base.filePath(lastCheckFileName));
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(check.readAll()).object().value("result").toString(),
             lastCheck);
}

void CheckAnswerTest::offersAStagedReleaseToItsShare_data()
{
    QTest::addColumn<QByteArray>("rollout");
    QTest::addColumn<bool>("early");
    QTest::addColumn<int>("fewest"); // of forty installations offered
    QTest::addColumn<int>("most");

    // Two days before the check: the second step stands.
    const QByteArray steps = R"(Start="2026-11-28T00:53:20Z" Steps="10%@0h,50%@24h,100%@72h")";
    QTest::newRow("at half") << steps + R"( State="active")" << false << 12 << 28;
    QTest::newRow("paused") << steps + R"( State="paused")" << false << 0 << 0;
    QTest::newRow("critical") << steps + R"( State="active" Critical="true")" << false << 40 << 40;
    QTest::newRow("early") << steps + R"( State="active")" << true << 40 << 40;
    QTest::newRow("early, paused") << steps + R"( State="paused")" << true << 0 << 0;
}

void CheckAnswerTest::offersAStagedReleaseToItsShare()
{
    QFETCH(QByteArray, rollout);
    QFETCH(bool, early);
    QFETCH(int, fewest);
    QFETCH(int, most);
    QTemporaryDir fleet;
    QList<bool> first;
    for (int round = 0; round < 2; ++round) {
        QList<bool> offered;
        int takenEarly = 0;
        for (int k = 0; k < 40; ++k) {
            const QString basePath = fleet.filePath(QString::number(k));
            QVERIFY(QDir().mkpath(basePath));
            const CheckOutcome outcome = checkOnce(basePath, staged(rollout), early);
            QVERIFY(outcome.result == Result::Offered || outcome.result == Result::HeldBack);
            offered << (outcome.result == Result::Offered);
            QVERIFY(!outcome.early || early);
            takenEarly += outcome.early;
            QCOMPARE(outcome.heldBack.has_value(), !offered.last());
        }
        if (round == 1)
            QCOMPARE(offered, first); // the same installations, check after check
        first = offered;
        // Those whose turn has come take the release as anyone would.
        QCOMPARE(takenEarly > 0 && takenEarly < 40, early && most > 0);
        const int count = int(offered.count(true));
        QVERIFY2(count >= fewest && count <= most, qPrintable(QString::number(count)));
    }
    QFile id(fleet.filePath("0/install-id"));
    QVERIFY(id.open(QIODevice::ReadOnly));
    struct stat info {};
    QVERIFY(::stat(QFile::encodeName(id.fileName()).constData(), &info) == 0);
    QCOMPARE(info.st_mode & 07777, 0600u);
    QVERIFY(
        QRegularExpression("^[0-9a-f]{32}\n$").match(QString::fromLatin1(id.readAll())).hasMatch());
}

QTEST_MAIN(CheckAnswerTest)
#include "tst_checkanswer.moc"
