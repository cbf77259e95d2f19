#include "sandbox.h"
#include "updatesource.h"

#include <QtTest>

namespace {

const QByteArray report = "RX481\r\n1.0\r\nF1\r\n123456789012345\r\nretail\r\nen_US\r\n1\r\n";

// The settings reader keeps 199 bytes of a line, 188 of them after "SERVER_URL=".
constexpr int KeptUrlBytes = 188;

} // namespace

// Answers that no real update source gives, against the installed updater:
// each ends as a failed check, soon, and the dialog is never shown.
class AnswerEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void hostileAnswerIsAFailedCheck_data();
    void hostileAnswerIsAFailedCheck();
};

void AnswerEndToEndTest::hostileAnswerIsAFailedCheck_data()
{
    QTest::addColumn<QByteArray>("description"); // null: a real one offering a new version
    QTest::addColumn<bool>("cutUrl");            // SERVER_URL too long for its line
    QTest::addColumn<QByteArray>("reason");      // on standard error

    // Nested as deep as the bytes go: hours of parsing once past the agent.
    const QByteArray fourMiB = QByteArray("<a>").repeated((4 << 20) / 3) + '\n';
    QTest::newRow("4 MiB nested") << fourMiB << false << QByteArray("the file is too large");
    QTest::newRow("nested within the agent's limit")
        << fourMiB.left(64 << 10) << false
        << QByteArray("Description.xml refused: elements nested deeper than 32");
    QTest::newRow("overlong SERVER_URL line")
        << QByteArray() << true << QByteArray("is longer than 198 bytes and is ignored");
}

void AnswerEndToEndTest::hostileAnswerIsAFailedCheck()
{
    QFETCH(QByteArray, description);
    QFETCH(bool, cutUrl);
    QFETCH(QByteArray, reason);
    Sandbox sandbox;
    // With the URL cut, the reader keeps exactly the address of this source.
    const int padding = KeptUrlBytes - int(("file://" + sandbox.scratch("s")).size()) + 1;
    UpdateSource source(sandbox.scratch(cutUrl ? QString(padding, 's') : "source"));
    if (description.isNull()) {
        source.addSoftware("sw.zip", {{"Kestrel", "new"}});
        source.publish();
    } else {
        source.publishDescription(description);
    }
    if (cutUrl)
        QCOMPARE(source.url().size(), KeptUrlBytes);
    sandbox.writeSettings(cutUrl ? source.url() + "/elsewhere" : source.url());
    // A dialog shown would be cancelled at once, and say so.
    sandbox.setEnv("AUTOPILOT_CANCEL", "notice");

    const Sandbox::Result result = sandbox.run("LD_PRELOAD='" AUTOPILOT_LIB "' ./cmupdater", 30000);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.elapsedMs < 8000, qPrintable(QString::number(result.elapsedMs)));
    QCOMPARE(result.out, report);
    QVERIFY2(result.err.contains(reason), result.err.constData());
    QVERIFY2(!result.err.contains("autopilot:"), result.err.constData());
}

QTEST_MAIN(AnswerEndToEndTest)
#include "tst_answer_e2e.moc"
