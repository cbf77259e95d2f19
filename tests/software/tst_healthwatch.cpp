#include "software/healthwatch.h"

#include <QTest>

#include <algorithm>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// When a fake process is alive: [from, to) in milliseconds of watch time.
using Lifetimes = QList<QPair<int, int>>;

class TestHealthWatch : public QObject {
    Q_OBJECT

private slots:
    void decides_data();
    void decides();
    void healthTimeSetting();
};

void TestHealthWatch::decides_data()
{
    QTest::addColumn<Lifetimes>("alive");
    QTest::addColumn<bool>("passes");
    QTest::addColumn<int>("watchedUntil"); // ms of watch time when it decided

    constexpr int endless = 1000000;
    QTest::newRow("runs throughout") << Lifetimes{{0, endless}} << true << 30000;
    QTest::newRow("exits at once") << Lifetimes{} << false << 0;
    QTest::newRow("exits half-way") << Lifetimes{{0, 15000}} << false << 15000;
    QTest::newRow("exits just before the end") << Lifetimes{{0, 29900}} << false << 30000;
    QTest::newRow("disappears and comes back")
        << Lifetimes{{0, 10100}, {10600, endless}} << false << 10250;
}

void TestHealthWatch::decides()
{
    QFETCH(Lifetimes, alive);
    QFETCH(bool, passes);
    QFETCH(int, watchedUntil);
    milliseconds now{0};
    milliseconds longestPause{0};
    HealthWatch watch(30s, [&] {
        return std::any_of(alive.begin(), alive.end(), [&](const QPair<int, int>& life) {
            return now >= milliseconds(life.first) && now < milliseconds(life.second);
        });
    });
    watch.setSleep([&](milliseconds pause) {
        now += pause;
        longestPause = std::max(longestPause, pause);
    });

    QCOMPARE(watch.passes(), passes);
    QCOMPARE(now.count(), watchedUntil);
    QVERIFY(longestPause <= 1s);
}

void TestHealthWatch::healthTimeSetting()
{
    for (const QByteArray good : {"0", "3", "600"})
        QCOMPARE(::healthTimeSetting(good).count(), good.toInt());
    for (const QByteArray bad : {"", "601", "-1", "5s", " 5", "0x10", "99999999999"})
        QCOMPARE(::healthTimeSetting(bad).count(), 30);
}

QTEST_MAIN(TestHealthWatch)
#include "tst_healthwatch.moc"
