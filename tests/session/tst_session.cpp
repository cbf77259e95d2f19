#include "dialogfixture.h"
#include "keys.h"
#include "release.h"

#include "history/updatehistory.h"
#include "packages/knownbad.h"
#include "session/updatesession.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace {

// Runs the lines for real but records those that stop the dialer or the
// connection manager instead of running them.
class StopRecordingShell final : public ShellRunner {
public:
    StopRecordingShell() { setShellRunner(this); }
    ~StopRecordingShell() override { setShellRunner(nullptr); }

    int run(const QString& line) override
    {
        if (line.startsWith("kill") || line.startsWith("rm -rf /dev/")) {
            stops << line;
            return 0;
        }
        return std::system(line.toLocal8Bit().constData());
    }

    QStringList stops;
};

// A face that only keeps what the session tells it.
class ScriptedFace final : public SessionObserver {
public:
    void checkAnswered(const CheckReport& report) override
    {
        note("answered");
        const std::lock_guard lock(mutex);
        answer = report.outcome.result;
        endShown = report.endShown;
    }
    bool keepPrivateData() override { return false; }
    void setProgress(int) override {}
    void appendLine(const char* text) override { note(text); }
    void appendLineOnce(const char* text, const QString&) override { note(text); }
    void markStep(UpdateStep) override {}
    void unmarkStep(UpdateStep) override {}
    void hideDialog() override {}
    void showWarning(const QList<const char*>& texts) override
    {
        for (const char* text : texts)
            note(QByteArray("warning ") + text);
    }
    void endEventLoop(int code) override { note("end " + QByteArray::number(code)); }

    QStringList seen() const
    {
        const std::lock_guard lock(mutex);
        return lines;
    }
    Result answer = Result::CheckFailed;
    bool endShown = false;

private:
    void note(const QByteArray& line)
    {
        const std::lock_guard lock(mutex);
        lines << QString::fromUtf8(line);
    }

    mutable std::mutex mutex;
    QStringList lines;
};

// The face attached, no pause kept and the process end only recorded.
void attachWithoutWaits(UpdateSession& session, ScriptedFace& face)
{
    session.attach(face);
    UpdateSession::Timing timing;
    timing.checkEndPause = timing.stopPause = timing.finalPause = std::chrono::milliseconds(0);
    session.setTiming(timing);
    session.setProcessEnd([](int) {});
}

template <typename Call> void onAgentThread(Call call)
{
    std::thread agent(call);
    agent.join();
}

// The newest record's result and reason, or the last check's when no run wrote one.
QString lastOutcome(const QString& base)
{
    const QList<QByteArray> history = readHistory(base);
    QFile check(base + '/' + lastCheckFileName);
    const QByteArray line =
        !history.isEmpty() ? history.last()
                           : (check.open(QIODevice::ReadOnly) ? check.readAll() : QByteArray());
    const QJsonObject record = QJsonDocument::fromJson(line).object();
    return (record.value("result").toString() + ' ' + record.value("reason").toString()).trimmed();
}

bool installKey(const QString& base)
{
    const QString key = base + "/update-key.pem";
    return std::system(qPrintable("openssl genpkey -algorithm ed25519 2>/dev/null | "
                                  "openssl pkey -pubout -out '" +
                                  key + "' 2>/dev/null")) == 0 &&
           QFile::exists(key);
}

} // namespace

Q_DECLARE_METATYPE(Came)

// Whole runs of the session with no window: a scripted face answers for the
// user, the agent's callbacks come on a thread of their own, the shell lines
// run for real but the stop of the manager is only recorded.
class SessionTest : public QObject {
    Q_OBJECT

private slots:
    void runsToItsEnd_data();
    void runsToItsEnd();
    void takesAFolderAsADownload_data();
    void takesAFolderAsADownload();
};

void SessionTest::runsToItsEnd_data()
{
    QTest::addColumn<QByteArray>("header"); // the description's first element
    QTest::addColumn<Came>("software");
    QTest::addColumn<Came>("firmware");
    QTest::addColumn<bool>("keyed");
    QTest::addColumn<int>("choice"); // -1: the user cancels
    QTest::addColumn<int>("watch");  // HEALTH_TIME
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<QByteArray>("installed"); // a.txt afterwards
    QTest::addColumn<int>("flashes");

    const QByteArray fresh = newVersionHeader();
    const int sw = SELECTED_SOFTWARE;
    const int both = SELECTED_BOTH;
    const QByteArray absent = "<missing>";
    QTest::newRow("up to date") << QByteArray("<Flag>3</Flag>") << Came::Absent << Came::Absent
                                << false << int(SELECTED_NONE) << 0 << "up-to-date" << false
                                << absent << 0;
    QTest::newRow("installed whole") << fresh << Came::Whole << Came::Absent << false << sw << 0
                                     << "installed" << true << QByteArray("new") << 0;
    QTest::newRow("installed from deltas, firmware flashed")
        << fresh << Came::Delta << Came::Delta << false << both << 0 << "installed" << true
        << QByteArray("new") << 1;
    QTest::newRow("unsigned where a key is installed")
        << fresh << Came::Whole << Came::Absent << true << sw << 0 << "refused no-signature"
        << false << absent << 0;
    QTest::newRow("broken software") << fresh << Came::Broken << Came::Whole << false << both << 0
                                     << "refused package-broken" << false << absent << 0;
    QTest::newRow("broken firmware") << fresh << Came::Whole << Came::Broken << false << both << 0
                                     << "refused package-broken" << false << absent << 0;
    QTest::newRow("rolled back by the watch")
        << fresh << Came::Whole << Came::Absent << false << sw << 1 << "rolled-back did-not-start"
        << true << absent << 0;
    QTest::newRow("cancelled") << fresh << Came::Whole << Came::Absent << false << -1 << 0
                               << "cancelled user-cancelled" << false << absent << 0;
}

void SessionTest::runsToItsEnd()
{
    QFETCH(QByteArray, header);
    QFETCH(Came, software);
    QFETCH(Came, firmware);
    QFETCH(bool, keyed);
    QFETCH(int, choice);
    QFETCH(int, watch);
    QFETCH(QString, outcome);
    QFETCH(bool, stopped);
    QFETCH(QByteArray, installed);
    QFETCH(int, flashes);
    QTemporaryDir base;
    QTemporaryDir work;
    Release sw{base.path(), "sw", ".installed_package", {}, {}};
    Release fw{base.path(), "fw", ".installed_firmware", {}, {}};
    const QByteArray entries =
        (software != Came::Absent ? sw.entry("Software Version", software, work.filePath("sw"))
                                  : QByteArray()) +
        (firmware != Came::Absent ? fw.entry("Firmware Version", firmware, work.filePath("fw"))
                                  : QByteArray());
    writeFile(base.filePath("Description.xml"), description(header, entries));
    QVERIFY(!keyed || installKey(base.path()));
    StopRecordingShell shell;
    FakePlatform::instance().reset();
    Installation installation = Installation::at(base.path());
    installation.HEALTH_TIME = std::chrono::seconds(watch);
    UpdateSession session(installation);
    ScriptedFace face;
    attachWithoutWaits(session, face);

    onAgentThread([&] { session.HaveNewVersion(); });
    QCOMPARE(face.answer == Result::Offered, header == newVersionHeader() && !keyed);
    if (choice < 0) {
        session.cancel();
    } else if (face.answer == Result::Offered) {
        session.choose(SelectedModule(choice));
        QCOMPARE(FakePlatform::instance().downloads, 1);
        sw.downloaded(software);
        fw.downloaded(firmware);
        onAgentThread([&] { session.DownloadFinished(true); });
        QCOMPARE(session.result(), outcome.startsWith("installed") ? Result::Installed
                                   : outcome.startsWith("rolled")  ? Result::RolledBack
                                                                   : Result::Refused);
        QCOMPARE(face.seen().last(), QString("end %1").arg(stopped ? 0 : 1));
    }

    QCOMPARE(lastOutcome(base.path()), outcome);
    QCOMPARE(!shell.stops.isEmpty(), stopped);
    QCOMPARE(readFile(base.filePath("a.txt")), installed);
    QCOMPARE(FakePlatform::instance().flashes, flashes);
    // A package that failed here is not offered again, whichever it was.
    const bool broken = software == Came::Broken || firmware == Came::Broken;
    QCOMPARE(isKnownBad(base.path(), "sha256:" + sha256("no zip")), broken);
}

void SessionTest::takesAFolderAsADownload_data()
{
    QTest::addColumn<QByteArray>("expires");
    QTest::addColumn<bool>("signedRelease");
    QTest::addColumn<QString>("installedVersion");
    QTest::addColumn<QByteArray>("packageTail"); // bytes added to the package in the folder
    QTest::addColumn<bool>("knownBad");
    QTest::addColumn<bool>("swappedAfterCopy");
    QTest::addColumn<bool>("packageOnlyRootReads"); // and a user started the updater
    QTest::addColumn<QString>("outcome");

    const QByteArray later = "2099-01-01T00:00:00Z";
    QTest::newRow("good") << later << true << "1.0" << QByteArray() << false << false << false
                          << "installed";
    QTest::newRow("unsigned") << later << false << "1.0" << QByteArray() << false << false << false
                              << "refused no-signature";
    QTest::newRow("tampered package") << later << true << "1.0" << QByteArray("tail") << false
                                      << false << false << "refused package-unverified";
    QTest::newRow("expired") << QByteArray("2020-02-01T00:00:00Z") << true << "1.0" << QByteArray()
                             << false << false << false << "refused expired";
    QTest::newRow("older") << later << true << "3.0" << QByteArray() << false << false << false
                           << "refused not-newer";
    QTest::newRow("known bad") << later << true << "1.0" << QByteArray() << true << false << false
                               << "refused known-bad";
    QTest::newRow("swapped after the copy")
        << later << true << "1.0" << QByteArray() << false << true << false << "installed";
    QTest::newRow("package the caller cannot read")
        << later << true << "1.0" << QByteArray() << false << false << true
        << "failed download-failed";
}

// A signed release in a folder, taken through the same checks as a download.
void SessionTest::takesAFolderAsADownload()
{
    QFETCH(QByteArray, expires);
    QFETCH(bool, signedRelease);
    QFETCH(QString, installedVersion);
    QFETCH(QByteArray, packageTail);
    QFETCH(bool, knownBad);
    QFETCH(bool, swappedAfterCopy);
    QFETCH(bool, packageOnlyRootReads);
    QFETCH(QString, outcome);
    QTemporaryDir base;
    QTemporaryDir work;
    QTemporaryDir folder;
    QString error;
    QVERIFY2(generateKeyPair(work.filePath("keys"), error), qPrintable(error));
    QVERIFY(QFile::copy(work.filePath("keys/update-key.pem"), base.filePath("update-key.pem")));
    Release sw{base.path(), "sw", ".installed_package", {}, {}};
    const QByteArray header = "<Info><Version>2.0</Version><Description>d</Description>"
                              "<Device>RX481</Device><ClientGroup>g</ClientGroup><ClientID>c"
                              "</ClientID><Issued>2020-01-01T00:00:00Z</Issued><Expires>" +
                              expires + "</Expires></Info>";
    const QByteArray release =
        description(header, sw.entry("Software Version", Came::Whole, work.filePath("sw")));
    writeFile(folder.filePath("Description.xml"), release);
    writeFile(folder.filePath("sw.zip"), sw.zip + packageTail);
    QByteArray signature;
    QVERIFY(signWithKey(work.filePath("keys/publisher-key.pem"), release, signature, error));
    if (signedRelease)
        writeFile(folder.filePath("Description.xml.sig"), signature);
    QVERIFY(!knownBad || rememberKnownBad(base.path(), "sha256:" + sha256(sw.zip)));
    const CallerIds caller{packageOnlyRootReads ? 65534 : ::getuid(),
                           packageOnlyRootReads ? 65534 : ::getgid()};
    QVERIFY(::chmod(qPrintable(folder.path()), 0755) == 0);
    QVERIFY(!packageOnlyRootReads || ::chmod(qPrintable(folder.filePath("sw.zip")), 0400) == 0);
    StopRecordingShell shell;
    FakePlatform::instance().reset();
    Installation installation = Installation::at(base.path());
    installation.CLINT_GROUP = "g";
    installation.SOFTWARE_VERSION = installedVersion;
    installation.HEALTH_TIME = std::chrono::seconds(0);
    UpdateSession session(installation, FolderOrigin{folder.path(), caller});
    ScriptedFace face;
    attachWithoutWaits(session, face);

    session.startCheck();
    QTRY_VERIFY(face.seen().contains("answered"));
    if (face.answer == Result::Offered) {
        if (swappedAfterCopy)
            writeFile(folder.filePath("sw.zip"), "another package");
        session.choose(SELECTED_SOFTWARE);
    }
    QTRY_VERIFY(face.seen().last().startsWith("end "));
    // The user handed this release over: a window shows what became of it.
    QCOMPARE(face.endShown, face.answer != Result::Offered);

    QCOMPARE(lastOutcome(base.path()), outcome);
    const bool installed = outcome == "installed";
    QCOMPARE(readFile(base.filePath("a.txt")), installed ? QByteArray("new") : "<missing>");
    QCOMPARE(face.seen().contains("The update in this folder is too old: it has expired."),
             outcome.endsWith("expired"));
    if (installed)
        QCOMPARE(QJsonDocument::fromJson(readHistory(base.path()).last())
                     .object()["software"]
                     .toObject()["source"],
                 "folder");
    // Nothing asked of the agent, and no copy left behind.
    QCOMPARE(FakePlatform::instance().calls, QStringList());
    QVERIFY(!QFileInfo::exists(base.filePath(".folder_copy")));
}

QTEST_GUILESS_MAIN(SessionTest)
#include "tst_session.moc"
