// The installed updater holding the publisher's key, against a local update
// source that someone other than the publisher has tampered with: each
// refusal stops nothing, unpacks nothing and installs nothing.

#include "sandbox.h"
#include "updatesource.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

const UpdateSource::Tree newSoftware = {
    {"Kestrel", "#!/bin/sh\nexit 0\n"},
    {"a.txt", "new a\n"},
    {"finish.sh", "#!/bin/sh\necho ran >> finish.log\n"},
};

const UpdateSource::Tree hostileSoftware = {
    {"a.txt", "hostile a\n"},
    {"finish.sh", "#!/bin/sh\necho owned > owned.log\n"},
};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void publisher(const QStringList& arguments)
{
    QProcess tool;
    tool.start(PUBLISH_TOOL, arguments);
    QVERIFY(tool.waitForFinished());
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
}

} // namespace

// Changes the published source as someone without the publisher's key could.
using Tamper = std::function<void(const QString& source)>;
Q_DECLARE_METATYPE(Tamper)

class TrustEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void installsAVerifiedUpdate();
    void refusesAnUntrustedDescription_data();
    void refusesAnUntrustedDescription();
    void refusesAReplayedDescription();
    void refusesAnUnverifiedPackage_data();
    void refusesAnUnverifiedPackage();
    void withoutAKeyUpdatesUnverified();
    void movesToANewKeyAndWithdrawsTheOld();

private:
    struct Run {
        Sandbox::Result result;
        int status = -1;
    };
    QString key(const QString& pair, const char* half) const
    {
        return keys.filePath(pair + '/' + half);
    }
    void publishSigned(const QString& source, const QStringList& options = {},
                       const QString& signer = "publisher") const;
    void prepare(Sandbox& sandbox, UpdateSource& source, bool withKey = true) const;
    static Run update(Sandbox& sandbox, const QByteArray& cancelAt = {});
    static void verifyNothingHappened(const Sandbox& sandbox, const Run& run, int status);

    QTemporaryDir keys;
};

void TrustEndToEndTest::initTestCase()
{
    publisher({"keygen", keys.filePath("publisher")});
    publisher({"keygen", keys.filePath("stranger")});
    publisher({"keygen", keys.filePath("successor")});
}

// Describes the source's sw.zip, and signs the description with signer's key.
void TrustEndToEndTest::publishSigned(const QString& source, const QStringList& options,
                                      const QString& signer) const
{
    publisher(QStringList{"describe", "--output", source + "/Description.xml", "--version", "2.0",
                          "--device", "RX481", "--client-group", "retail", "--url-base",
                          QUrl::fromLocalFile(source).toString(), "--software",
                          source + "/sw.zip"} +
              options);
    publisher({"sign", "--key", key(signer, "publisher-key.pem"), source + "/Description.xml"});
}

void TrustEndToEndTest::prepare(Sandbox& sandbox, UpdateSource& source, bool withKey) const
{
    source.addSoftware("sw.zip", newSoftware);
    writeTree(sandbox.installation(), {{"a.txt", "old a\n"}});
    QVERIFY(QFile::copy("/bin/sleep", sandbox.path("Kestrel")));
    if (withKey)
        QVERIFY(QFile::copy(key("publisher", "update-key.pem"), sandbox.path("update-key.pem")));
    sandbox.writeSettings(source.url());
}

TrustEndToEndTest::Run TrustEndToEndTest::update(Sandbox& sandbox, const QByteArray& cancelAt)
{
    sandbox.setEnv("AUTOPILOT_TICK", "0");
    sandbox.setEnv("AUTOPILOT_BACKUP", "no");
    sandbox.setEnv("AUTOPILOT_CANCEL", cancelAt);
    Run run;
    run.result = sandbox.run("touch /dev/ttyUSB1\n"
                             "./Kestrel 600 & cm=$!\n"
                             "LD_PRELOAD='" AUTOPILOT_LIB "' ./cmupdater\n"
                             "echo $? > updater.rc\n"
                             "kill -0 $cm 2>/dev/null && echo alive > cm.state\n"
                             "test -e /dev/ttyUSB1 && echo present > tty.state\n"
                             "kill $cm 2>/dev/null\n",
                             60000);
    run.status = readFile(sandbox.path("updater.rc")).trimmed().toInt();
    return run;
}

void TrustEndToEndTest::verifyNothingHappened(const Sandbox& sandbox, const Run& run, int status)
{
    QVERIFY2(run.result.finished, run.result.err.constData());
    QCOMPARE(run.status, status);
    QCOMPARE(readFile(sandbox.path("cm.state")), QByteArray("alive\n"));
    QCOMPARE(readFile(sandbox.path("tty.state")), QByteArray("present\n"));
    QCOMPARE(readFile(sandbox.path("a.txt")), QByteArray("old a\n"));
    for (const char* name :
         {"download", "bak", "finish.log", "owned.log", "updatebak.ini", "sw.zip"})
        QVERIFY2(!QFileInfo::exists(sandbox.path(name)), name);
}

void TrustEndToEndTest::installsAVerifiedUpdate()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    prepare(sandbox, source);
    publishSigned(sandbox.scratch("source"));
    const Run run = update(sandbox);
    QVERIFY2(run.result.finished, run.result.err.constData());
    QCOMPARE(run.status, 0);
    QCOMPARE(readFile(sandbox.path("a.txt")), QByteArray("new a\n"));
    QCOMPARE(readFile(sandbox.path("finish.log")), QByteArray("ran\n"));
    QVERIFY(!run.result.err.contains("refused"));
    QVERIFY(!run.result.err.contains("not verified"));
    QVERIFY(QFileInfo(sandbox.path("update-issued")).size() > 0);
    // The signature is a work file like the description it vouched for.
    QVERIFY(!QFileInfo::exists(sandbox.path("Description.xml.sig")));
}

void TrustEndToEndTest::refusesAnUntrustedDescription_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("signer");
    QTest::addColumn<Tamper>("tamper");
    QTest::addColumn<QString>("reason");

    const Tamper none = [](const QString&) {};
    QTest::newRow("tampered package, rewritten unsigned description, matching MD5")
        << QStringList() << "publisher" << Tamper([this](const QString& source) {
               UpdateSource hostile(source + "/hostile");
               hostile.addSoftware("sw.zip", hostileSoftware);
               QFile::remove(source + "/sw.zip");
               QVERIFY(QFile::copy(hostile.packagePath("sw.zip"), source + "/sw.zip"));
               const QByteArray signature = readFile(source + "/Description.xml.sig");
               publishSigned(source, {}, "stranger"); // any digests an attacker likes
               writeFile(source + "/Description.xml.sig", signature);
           })
        << "bad signature";
    QTest::newRow("signed by another key")
        << QStringList() << "stranger" << none << "bad signature";
    QTest::newRow("edited, re-signed by another key")
        << QStringList() << "publisher" << Tamper([this](const QString& source) {
               QByteArray description = readFile(source + "/Description.xml");
               writeFile(source + "/Description.xml", description.replace("2.0", "9.9"));
               publisher({"sign", "--key", key("stranger", "publisher-key.pem"),
                          source + "/Description.xml"});
           })
        << "bad signature";
    QTest::newRow("truncated signature")
        << QStringList() << "publisher" << Tamper([](const QString& source) {
               QVERIFY(QFile::resize(source + "/Description.xml.sig", 32));
           })
        << "bad signature";
    QTest::newRow("no signature") << QStringList() << "publisher"
                                  << Tamper([](const QString& source) {
                                         QVERIFY(QFile::remove(source + "/Description.xml.sig"));
                                     })
                                  << "no signature";
    QTest::newRow("expired") << QStringList{"--issued", "2025-01-01T00:00:00Z", "--expires",
                                            "2025-02-01T00:00:00Z"}
                             << "publisher" << none << "expired";
}

void TrustEndToEndTest::refusesAnUntrustedDescription()
{
    QFETCH(QStringList, options);
    QFETCH(QString, signer);
    QFETCH(Tamper, tamper);
    QFETCH(QString, reason);
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    prepare(sandbox, source);
    publishSigned(sandbox.scratch("source"), options, signer);
    tamper(sandbox.scratch("source"));
    const Run run = update(sandbox);
    verifyNothingHappened(sandbox, run, 0);
    QVERIFY(run.result.elapsedMs >= 3000); // the failed check's pause
    QVERIFY2(run.result.err.contains("description refused: " + reason.toUtf8()),
             run.result.err.constData());
    QVERIFY(!QFileInfo::exists(sandbox.path("update-issued")));
}

void TrustEndToEndTest::refusesAReplayedDescription()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    prepare(sandbox, source);
    const QString directory = sandbox.scratch("source");
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto daysFromNow = [now](int days) { return now.addDays(days).toString(Qt::ISODate); };
    const QString expires = daysFromNow(60);
    publishSigned(directory, {"--issued", daysFromNow(-2), "--expires", expires});
    const QByteArray older = readFile(directory + "/Description.xml");
    const QByteArray olderSignature = readFile(directory + "/Description.xml.sig");
    publishSigned(directory, {"--issued", daysFromNow(-1), "--expires", expires});
    const Run accepted = update(sandbox, "notice"); // the user looks and cancels
    QCOMPARE(accepted.status, 0);
    QVERIFY2(!accepted.result.err.contains("refused"), accepted.result.err.constData());

    writeFile(directory + "/Description.xml", older);
    writeFile(directory + "/Description.xml.sig", olderSignature);
    const Run replayed = update(sandbox);
    verifyNothingHappened(sandbox, replayed, 0);
    QVERIFY2(replayed.result.err.contains("description refused: replayed"),
             replayed.result.err.constData());
}

void TrustEndToEndTest::refusesAnUnverifiedPackage_data()
{
    QTest::addColumn<QString>("digest"); // the package's SHA256 attribute instead
    QTest::addColumn<QString>("reason");

    QTest::newRow("no SHA256") << ""
                               << "sw.zip: no SHA256";
    QTest::newRow("digest mismatch")
        << " SHA256=\"" + QString(64, '0') + '"' << "sw.zip: SHA256 mismatch";
}

// The publisher's own description, signed, but its digest does not vouch for
// the package: the MD5 matches, so the agent's download succeeds.
void TrustEndToEndTest::refusesAnUnverifiedPackage()
{
    QFETCH(QString, digest);
    QFETCH(QString, reason);
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    prepare(sandbox, source);
    const QString description = sandbox.scratch("source/Description.xml");
    publishSigned(sandbox.scratch("source"));
    QString text = QString::fromUtf8(readFile(description));
    text.replace(QRegularExpression(" SHA256=\"[0-9a-f]{64}\""), digest);
    writeFile(description, text.toUtf8());
    publisher({"sign", "--key", key("publisher", "publisher-key.pem"), description});

    const Run run = update(sandbox);
    verifyNothingHappened(sandbox, run, 1);
    QVERIFY2(run.result.err.contains("package refused: " + reason.toUtf8()),
             run.result.err.constData());
    QVERIFY(!QFileInfo::exists(sandbox.path("Description.xml")));
}

void TrustEndToEndTest::withoutAKeyUpdatesUnverified()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    prepare(sandbox, source, false);
    source.publish(); // neither signed nor with digests or times
    const Run run = update(sandbox);
    QCOMPARE(run.status, 0);
    QCOMPARE(readFile(sandbox.path("a.txt")), QByteArray("new a\n"));
    QCOMPARE(run.result.err.count("updates are not verified"), 1);
}

// The installed key signs a list that trusts only its successor: the
// successor's description is installed, and from then on the old key's is not.
void TrustEndToEndTest::movesToANewKeyAndWithdrawsTheOld()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    prepare(sandbox, source);
    const QString directory = sandbox.scratch("source");
    publisher({"rotate", "--key", key("publisher", "publisher-key.pem"), "--trust",
               key("successor", "update-key.pem"), "--version", "2", "--output", directory});
    publishSigned(directory, {}, "successor");
    const Run moved = update(sandbox);
    QVERIFY2(moved.result.finished, moved.result.err.constData());
    QCOMPARE(moved.status, 0);
    QVERIFY2(moved.result.err.contains("key list 2 taken"), moved.result.err.constData());
    QCOMPARE(readFile(sandbox.path("a.txt")), QByteArray("new a\n"));
    const QRegularExpressionMatch listed = QRegularExpression("Id=\"([0-9a-f]{16})\"")
                                               .match(readFile(sandbox.path("trusted-keys.xml")));
    QVERIFY(listed.hasMatch());
    QVERIFY(readFile(sandbox.path("update-history.jsonl"))
                .contains("\"key\":\"" + listed.captured(1).toLatin1() + '"'));

    writeFile(sandbox.path("a.txt"), "old a\n");
    publishSigned(directory); // a later description, signed by the withdrawn key
    const Run withdrawn = update(sandbox);
    QCOMPARE(withdrawn.status, 0);
    QVERIFY2(withdrawn.result.err.contains("description refused: bad signature"),
             withdrawn.result.err.constData());
    QCOMPARE(readFile(sandbox.path("a.txt")), QByteArray("old a\n"));
}

QTEST_GUILESS_MAIN(TrustEndToEndTest)
#include "tst_trust_e2e.moc"
