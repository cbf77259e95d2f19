#include "trust/rollout.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

constexpr qint64 start = 1'796'000'000;
constexpr qint64 hour = 3600;

} // namespace

// Each installation's place in a release, and the share a rollout offers when.
class RolloutTest : public QObject {
    Q_OBJECT

private slots:
    void drawsAreEvenStableAndIndependent();
    void offersTheStepOfTheClock_data();
    void offersTheStepOfTheClock();
};

void RolloutTest::drawsAreEvenStableAndIndependent()
{
    QRandomGenerator random(35);
    constexpr int ids = 100'000;
    QList<int> tenths(10, 0);
    int lowInBoth = 0;
    for (int k = 0; k < ids; ++k) {
        const QByteArray id = QByteArray::number(random.generate64(), 16);
        const int draw = rolloutDraw(id, "RX481", "2.0", "F2.0");
        QVERIFY(draw >= 0 && draw < 10000);
        QCOMPARE(rolloutDraw(id, "RX481", "2.0", "F2.0"), draw);
        ++tenths[draw / 1000];
        if (draw < 5000 && rolloutDraw(id, "RX481", "2.1", "F2.0") < 5000)
            ++lowInBoth;
    }
    for (int tenth = 0; tenth < 10; ++tenth)
        QVERIFY2(qAbs(tenths[tenth] - ids / 10) <= ids / 100,
                 qPrintable(QStringLiteral("tenth %1: %2").arg(tenth).arg(tenths[tenth])));
    // Half of each release's draws are low: a quarter in both when independent.
    QVERIFY2(qAbs(lowInBoth - ids / 4) <= ids / 100, qPrintable(QString::number(lowInBoth)));
}

void RolloutTest::offersTheStepOfTheClock_data()
{
    QTest::addColumn<bool>("paused");
    QTest::addColumn<bool>("critical");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<int>("share"); // hundredths of a percent

    QTest::newRow("before the start") << false << false << start - 1 << 0;
    QTest::newRow("the first step") << false << false << start << 500;
    QTest::newRow("just before the second") << false << false << start + 24 * hour - 1 << 500;
    QTest::newRow("the second step") << false << false << start + 24 * hour << 2500;
    QTest::newRow("the last step") << false << false << start + 72 * hour << 10000;
    QTest::newRow("a clock far ahead") << false << false << start + 3650 * 24 * hour << 10000;
    QTest::newRow("a clock set back years") << false << false << start - 3650 * 24 * hour << 0;
    QTest::newRow("paused") << true << false << start + 72 * hour << 0;
    QTest::newRow("critical before the start") << false << true << start - 1 << 10000;
    QTest::newRow("critical and paused") << true << true << start + 72 * hour << 0;
}

void RolloutTest::offersTheStepOfTheClock()
{
    QFETCH(bool, paused);
    QFETCH(bool, critical);
    QFETCH(qint64, now);
    QFETCH(int, share);
    const Rollout rollout{start, {{5, 0}, {25, 24}, {100, 72}}, paused, critical};
    QCOMPARE(offeredShare(rollout, now), share);
    for (const int draw : {0, 499, 500, 2000, 2499, 2500, 9999}) {
        const RolloutTurn turn = rolloutTurn(rollout, draw, now);
        QCOMPARE(turn.offered, draw < share);
    }
    // Draw 2000 comes in at the second step, whatever the clock says now.
    const RolloutTurn turn = rolloutTurn(rollout, 2000, now);
    QVERIFY(turn.step && turn.from);
    QCOMPARE(turn.step->percent, 25);
    QCOMPARE(*turn.from, start + 24 * hour);
}

QTEST_MAIN(RolloutTest)
#include "tst_rollout.moc"
