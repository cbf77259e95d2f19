#include "trust/rollout.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

constexpr qint64 start = 1'796'000'000;
constexpr qint64 hour = 3600;

using Steps = QList<RolloutStep>;

QByteArray randomId(QRandomGenerator& random)
{
    QByteArray id(16, '\0');
    random.fillRange(reinterpret_cast<quint32*>(id.data()), 4);
    return id.toHex();
}

} // namespace

// Each installation's place in a release, and the share a rollout offers when.
class RolloutTest : public QObject {
    Q_OBJECT

private slots:
    void drawsAreEvenStableAndIndependent();
    void readsOnlyWellFormedSteps_data();
    void readsOnlyWellFormedSteps();
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
        const QByteArray id = randomId(random);
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

void RolloutTest::readsOnlyWellFormedSteps_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Steps>("steps"); // empty: refused

    QTest::newRow("three steps") << "5%@0h,25%@24h,100%@72h" << Steps{{5, 0}, {25, 24}, {100, 72}};
    QTest::newRow("one step") << "100%@0h" << Steps{{100, 0}};
    QTest::newRow("a share held") << "10%@0h,10%@12h" << Steps{{10, 0}, {10, 12}};
    QTest::newRow("empty") << "" << Steps{};
    QTest::newRow("above all") << "101%@0h" << Steps{};
    QTest::newRow("falling share") << "50%@0h,25%@24h" << Steps{};
    QTest::newRow("hours not rising") << "5%@24h,25%@24h" << Steps{};
    QTest::newRow("negative") << "-5%@0h" << Steps{};
    QTest::newRow("fraction") << "2.5%@0h" << Steps{};
    QTest::newRow("no unit") << "5%@0" << Steps{};
    QTest::newRow("spaces") << "5%@0h, 25%@24h" << Steps{};
    QTest::newRow("trailing comma") << "5%@0h," << Steps{};
    QTest::newRow("ages ahead") << "5%@999999h" << Steps{};
}

void RolloutTest::readsOnlyWellFormedSteps()
{
    QFETCH(QString, text);
    QFETCH(Steps, steps);
    const std::optional<Steps> read = parseRolloutSteps(text);
    QCOMPARE(read.has_value(), !steps.isEmpty());
    if (read) {
        QCOMPARE(*read, steps);
        QCOMPARE(rolloutStepsText(*read), text);
    }
}

void RolloutTest::offersTheStepOfTheClock_data()
{
    QTest::addColumn<bool>("paused");
    QTest::addColumn<bool>("critical");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<int>("share");     // hundredths of a percent
    QTest::addColumn<int>("turnShare"); // percent of the step that reaches draw 2000
    QTest::addColumn<qint64>("turnFrom");

    const qint64 turn = start + 24 * hour;
    QTest::newRow("before the start") << false << false << start - 1 << 0 << 25 << turn;
    QTest::newRow("the first step") << false << false << start << 500 << 25 << turn;
    QTest::newRow("just before the second")
        << false << false << start + 24 * hour - 1 << 500 << 25 << turn;
    QTest::newRow("the second step") << false << false << start + 24 * hour << 2500 << 25 << turn;
    QTest::newRow("the last step") << false << false << start + 72 * hour << 10000 << 25 << turn;
    QTest::newRow("a clock far ahead")
        << false << false << start + 3650 * 24 * hour << 10000 << 25 << turn;
    QTest::newRow("a clock set back years")
        << false << false << start - 3650 * 24 * hour << 0 << 25 << turn;
    QTest::newRow("paused") << true << false << start + 72 * hour << 0 << 25 << turn;
    QTest::newRow("critical before the start") << false << true << start - 1 << 10000 << 25 << turn;
    QTest::newRow("critical and paused") << true << true << start + 72 * hour << 0 << 25 << turn;
}

void RolloutTest::offersTheStepOfTheClock()
{
    QFETCH(bool, paused);
    QFETCH(bool, critical);
    QFETCH(qint64, now);
    QFETCH(int, share);
    QFETCH(int, turnShare);
    QFETCH(qint64, turnFrom);
    const Rollout rollout{start, {{5, 0}, {25, 24}, {100, 72}}, paused, critical};
    QCOMPARE(offeredShare(rollout, now), share);
    for (const int draw : {0, 499, 500, 2000, 2499, 2500, 9999}) {
        const RolloutTurn turn = rolloutTurn(rollout, draw, now);
        QCOMPARE(turn.offered, draw < share);
    }
    const RolloutTurn turn = rolloutTurn(rollout, 2000, now);
    QVERIFY(turn.step && turn.from);
    QCOMPARE(turn.step->percent, turnShare);
    QCOMPARE(*turn.from, turnFrom);
}

QTEST_MAIN(RolloutTest)
#include "tst_rollout.moc"
