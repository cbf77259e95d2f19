#include "agent/checkanswer.h"
#include "packages/knownbad.h"
#include "packages/xmlparser.h"
#include "trust/descriptionbinding.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

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
    QTest::newRow("up to date leaves no record")
        << Answers{flagged("3")} << "up-to-date" << QStringList{};
    QTest::newRow("different failures stay apart")
        << Answers{down, flagged("0"), flagged("abc"), "<Update"} << "check-failed"
        << QStringList{"check-failed server-unreachable 1", "check-failed failed-status 2",
                       "check-failed no-description 1"};
    QTest::newRow("a new version is offered") << Answers{fresh} << "offered" << QStringList{};
    QTest::newRow("a failed package is not offered again")
        << Answers{known, known} << "refused" << QStringList{"refused known-bad 2"};
}

void CheckAnswerTest::recordsEveryCheckOutcome()
{
    QFETCH(Answers, answers);
    QFETCH(QString, lastCheck);
    QFETCH(QStringList, records);
    // The answer is read where the caller says, whatever else the process holds.
    QTemporaryDir base;
    QVERIFY(rememberKnownBad(base.path(), "md5:" + badMd5));
    const InstallationIdentity installation{"g", "1.0", "F1"};

    for (const QByteArray& answer : answers) {
        QFile::remove(base.filePath("Description.xml"));
        QFile file(base.filePath("Description.xml"));
        QVERIFY(answer == "-" || (file.open(QIODevice::WriteOnly) && file.write(answer) > 0));
        file.close();
        XmlParser parser;
        const QDateTime started = QDateTime::currentDateTimeUtc();
        recordCheck(base.path(), judgeCheckAnswer(base.path(), parser, installation), started);
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

QTEST_MAIN(CheckAnswerTest)
#include "tst_checkanswer.moc"
