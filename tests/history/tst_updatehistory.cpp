#include "history/updatehistory.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

HistoryRecord numbered(qint64 number)
{
    HistoryRecord record;
    record.started = QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);
    record.ended = record.started.addSecs(75);
    record.result = Result::RolledBack;
    record.reason = Reason::DidNotStart;
    record.software = ModuleRecord{"1.0", "2.1 \"beta\"", Result::RolledBack};
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
    void printsWhatAnyReaderCanTake_data();
    void printsWhatAnyReaderCanTake();
    void readsAHugeFileFromItsEnd();
    void everyStoredWordNamesOneValue();
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

namespace {

QByteArray printed(const QString& basePath, bool json)
{
    std::FILE* out = std::tmpfile();
    printHistory(basePath, json, out);
    QByteArray text(int(std::ftell(out)), '\0');
    std::rewind(out);
    const size_t read = std::fread(text.data(), 1, size_t(text.size()), out);
    std::fclose(out);
    return text.left(qsizetype(read));
}

} // namespace

void TestUpdateHistory::printsWhatAnyReaderCanTake_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("version"); // the offered software version of each record

    QTest::newRow("none") << 0 << "2.1";
    QTest::newRow("one") << 1 << "2.1";
    QTest::newRow("two") << 2 << "2.1";
    QTest::newRow("terminal controls") << 2 << QString("2.1\x1b[2J\x7f\u0085\u202e\u2028\u061c");
    QTest::newRow("very long") << 1 << QString(300, 'v');
}

// One JSON document whatever the count, no character that steers a
// terminal or turns text around, and a table under 100 columns.
void TestUpdateHistory::printsWhatAnyReaderCanTake()
{
    QFETCH(int, records);
    QFETCH(QString, version);
    QTemporaryDir base;
    for (int number = 0; number < records; ++number) {
        HistoryRecord record = numbered(number);
        record.result = number % 2 == 0 ? Result::CheckFailed : Result::Installed;
        record.software->to = version;
        record.bytes = qint64(1) << 40; // wider than its column
        QVERIFY(appendHistory(base.path(), record));
    }
    QVERIFY(writeLastCheck(base.path(), QDateTime::currentDateTimeUtc(), Result::CheckFailed,
                           Reason::ServerUnreachable));

    const QByteArray json = printed(base.path(), true);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    QVERIFY2(error.error == QJsonParseError::NoError, json.constData());
    QCOMPARE(document.array().size(), records);
    if (records > 0)
        QCOMPARE(document.array().last()["software"]["to"].toString(), version);
    const QByteArray table = printed(base.path(), false);
    for (const QByteArray& output : {json, table}) {
        for (const char* raw :
             {"\x1b", "\x7f", "\xc2\x85", "\xe2\x80\xae", "\xe2\x80\xa8", "\xd8\x9c"})
            QVERIFY2(!output.contains(raw), output.constData());
    }
    const QList<QByteArray> lines = table.trimmed().split('\n');
    QVERIFY(lines.first().startsWith("last check: "));
    QCOMPARE(lines.size(), records + 2);
    for (const QByteArray& line : lines)
        QVERIFY2(QString::fromUtf8(line).size() <= 100, line.constData());
}

// A file grown to gigabytes by anything is read from its end only.
void TestUpdateHistory::readsAHugeFileFromItsEnd()
{
    QTemporaryDir base;
    QFile file(historyPath(base.path()));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(qint64(4) << 30)); // a hole: no disk, no line feed
    QVERIFY(file.seek(file.size()));
    for (int number = 1; number <= historyLimit + 5; ++number)
        QVERIFY(file.write(numbered(number).toJson() + '\n') > 0);
    file.close();
    QElapsedTimer clock;
    clock.start();

    const QList<QByteArray> lines = readHistory(base.path());
    const QByteArray json = printed(base.path(), true);

    QVERIFY(clock.elapsed() < 2000);
    QCOMPARE(lines.size(), historyLimit);
    QCOMPARE(QJsonDocument::fromJson(lines.first()).object().value("bytes").toInteger(), qint64(6));
    QCOMPARE(QJsonDocument::fromJson(json).array().size(), historyLimit);
    // The next record leaves a file of the kept records only.
    QVERIFY(appendHistory(base.path(), numbered(0)));
    QVERIFY(QFileInfo(historyPath(base.path())).size() < historyReadLimit);
    QCOMPARE(readHistory(base.path()).size(), historyLimit);
}

// Two values stored as one word would be told apart by nobody reading the
// history.
void TestUpdateHistory::everyStoredWordNamesOneValue()
{
    QSet<QString> reasons;
    for (int value = int(Reason::None); value <= int(Reason::Refused); ++value) {
        const QString text = word(Reason(value));
        QCOMPARE(text.isEmpty(), Reason(value) == Reason::None);
        QVERIFY2(!reasons.contains(text), qPrintable(text));
        reasons.insert(text);
    }
    QSet<QString> results;
    for (int value = int(Result::Installed); value <= int(Result::CheckFailed); ++value)
        results.insert(word(Result(value)));
    QCOMPARE(results.size(), int(Result::CheckFailed) + 1);
    QVERIFY(!results.contains(QString()));
}

QTEST_MAIN(TestUpdateHistory)
#include "tst_updatehistory.moc"
