#include "session/downloadmeter.h"

#include <QTest>

namespace {

using Clock = std::chrono::steady_clock;

// One progress report: seconds since the download started, and its percentage.
struct Report {
    double seconds;
    int percent;
};

} // namespace

Q_DECLARE_METATYPE(QList<Report>)

// What a user on a slow link reads on the progress bar.
class DownloadMeterTest : public QObject {
    Q_OBJECT

private slots:
    void tellsBytesAndTimeLeft_data();
    void tellsBytesAndTimeLeft();
};

void DownloadMeterTest::tellsBytesAndTimeLeft_data()
{
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("onDisk");
    QTest::addColumn<QList<Report>>("reports");
    QTest::addColumn<QString>("text");       // after the last report
    QTest::addColumn<QList<int>>("resumed"); // what each report says of a resume

    const qint64 size = 4718592; // 4.5 MB
    QTest::newRow("size unknown") << qint64(0) << qint64(0) << QList<Report>{{0, 0}, {9, 42}}
                                  << "42 %" << QList<int>{0, 0};
    QTest::newRow("rate not known yet")
        << size << qint64(0) << QList<Report>{{0, 0}, {1, 1}, {2, 42}} << "42 % - 1.9 of 4.5 MB"
        << QList<int>{0, 0, 0};
    // 41 % in 60 s: the other 58 % take 85 s.
    QTest::newRow("minutes left") << size << qint64(0) << QList<Report>{{0, 0}, {5, 1}, {65, 42}}
                                  << "42 % - 1.9 of 4.5 MB - about 2 min left"
                                  << QList<int>{0, 0, 0};
    QTest::newRow("seconds left") << size << qint64(0) << QList<Report>{{0, 0}, {1, 10}, {9, 80}}
                                  << "80 % - 3.6 of 4.5 MB - about 3 s left" << QList<int>{0, 0, 0};
    QTest::newRow("small package in KB")
        << qint64(348) << qint64(0) << QList<Report>{{0, 0}, {1, 50}} << "50 % - 1 of 1 KB"
        << QList<int>{0, 0};
    // The bytes on disk arrive at once and are no rate: 12 % in 10 s after them.
    QTest::newRow("resumed") << size << size / 2 << QList<Report>{{0, 0}, {0.5, 50}, {10.5, 62}}
                             << "62 % - 2.8 of 4.5 MB - about 32 s left" << QList<int>{0, 50, 0};
    QTest::newRow("part thrown away, started over")
        << size << size / 2 << QList<Report>{{0, 0}, {1, 1}, {2, 60}} << "60 % - 2.7 of 4.5 MB"
        << QList<int>{0, 0, 0};
    QTest::newRow("done") << size << qint64(0) << QList<Report>{{0, 0}, {5, 1}, {65, 100}}
                          << "100 % - 4.5 of 4.5 MB" << QList<int>{0, 0, 0};
}

void DownloadMeterTest::tellsBytesAndTimeLeft()
{
    QFETCH(qint64, total);
    QFETCH(qint64, onDisk);
    QFETCH(QList<Report>, reports);
    QFETCH(QString, text);
    QFETCH(QList<int>, resumed);
    const Clock::time_point start{};
    Clock::time_point now = start;
    DownloadMeter meter([&now] { return now; });
    meter.start("sw.zip", total, onDisk);

    QString shown;
    QList<int> resumes;
    for (const Report& report : reports) {
        now = start + std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double>(report.seconds));
        resumes << meter.resumedAt(report.percent);
        shown = meter.text(report.percent);
    }

    QCOMPARE(shown, text);
    QCOMPARE(resumes, resumed);
    QCOMPARE(meter.file(), QString("sw.zip"));
}

QTEST_GUILESS_MAIN(DownloadMeterTest)
#include "tst_downloadmeter.moc"
