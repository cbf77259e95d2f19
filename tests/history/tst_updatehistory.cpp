#include "history/updatehistory.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

HistoryRecord numbered(qint64 number)
{
    HistoryRecord record;
    record.started = QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);
    record.ended = record.started.addSecs(75);
    record.result = "rolled-back";
    record.reason = "did-not-start";
    record.software = ModuleRecord{"1.0", "2.1 \"beta\"", "rolled-back"};
    record.bytes = number;
    return record;
}

} // namespace

class TestUpdateHistory : public QObject {
    Q_OBJECT

private slots:
    void keepsWholeRecordsUpToTheLimit_data();
    void keepsWholeRecordsUpToTheLimit();
    void refusesALinkInItsPlace();
};

void TestUpdateHistory::keepsWholeRecordsUpToTheLimit_data()
{
    QTest::addColumn<QByteArray>("before"); // the file's content before the run
    QTest::addColumn<int>("appended");      // records numbered 1.. appended
    QTest::addColumn<int>("lines");
    QTest::addColumn<qint64>("oldest"); // bytes of the first record kept

    const QByteArray old = numbered(0).toJson() + '\n';
    QTest::newRow("new file") << QByteArray() << 1 << 1 << qint64(1);
    QTest::newRow("appended") << old << 2 << 3 << qint64(0);
    QTest::newRow("over the limit") << old << 205 << historyLimit << qint64(6);
    QTest::newRow("last line cut off") << old + "{\"started\":\"20" << 1 << 2 << qint64(0);
}

void TestUpdateHistory::keepsWholeRecordsUpToTheLimit()
{
    QFETCH(QByteArray, before);
    QFETCH(int, appended);
    QFETCH(int, lines);
    QFETCH(qint64, oldest);
    QTemporaryDir base;
    if (!before.isEmpty()) {
        QFile file(historyPath(base.path()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
    }

    for (int number = 1; number <= appended; ++number)
        QVERIFY(appendHistory(base.path(), numbered(number)));

    const QList<QByteArray> stored = readHistory(base.path());
    QCOMPARE(stored.size(), lines);
    QCOMPARE(QJsonDocument::fromJson(stored.first()).object().value("bytes").toInteger(), oldest);
    const QJsonObject last = QJsonDocument::fromJson(stored.last()).object();
    QCOMPARE(last.value("started").toString(), QString("2026-12-08T10:00:00Z"));
    QCOMPARE(last.value("ended").toString(), QString("2026-12-08T10:01:15Z"));
    QCOMPARE(last.value("result").toString(), QString("rolled-back"));
    QCOMPARE(last.value("reason").toString(), QString("did-not-start"));
    QCOMPARE(last.value("software").toObject().value("to").toString(), QString("2.1 \"beta\""));
    QVERIFY(last.value("firmware").isNull());
    QCOMPARE(last.value("bytes").toInteger(), qint64(appended));
    QCOMPARE(last.keys().size(), 7);
}

void TestUpdateHistory::refusesALinkInItsPlace()
{
    QTemporaryDir base;
    const QString elsewhere = base.filePath("elsewhere");
    QVERIFY(QFile::link(elsewhere, historyPath(base.path())));

    QVERIFY(!appendHistory(base.path(), numbered(1)));
    QVERIFY(!QFile::exists(elsewhere));
    QVERIFY(readHistory(base.path()).isEmpty());
}

QTEST_MAIN(TestUpdateHistory)
#include "tst_updatehistory.moc"
