#include "history/updatehistory.h"
#include "packages/knownbad.h"
#include "software/installedtrees.h"
#include "software/packagefiles.h"
#include "software/softwareupdate.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

// Without a watch unless a test asks for one.
Installation installationAt(const QString& base, const QString& cmName = "Kestrel",
                            const QString& wvdial = "0")
{
    Installation installation = Installation::at(base);
    installation.CM_NAME = cmName;
    installation.WVDIAL = wvdial;
    installation.HEALTH_TIME = std::chrono::seconds(0);
    return installation;
}

// One dispatcher whose view, firmware step and process starter write into one
// journal; with record set, its shell lines go there too instead of running.
struct Run {
    Run(const Installation& settings, bool record)
        : files(settings.BASE_PATH), dispatcher(settings, files, view, [this] {
              journal.append("firmware");
              return flashes;
          })
    {
        if (record)
            runner = std::make_unique<RecordingRunner>(&journal);
        dispatcher.setStopPause(0ms);
        dispatcher.setProcessStarter([this](const QString& program, const QString& dir) {
            journal.append("start " + program + " in " + dir);
            return true;
        });
    }

    QStringList listLines() const { return entriesWith(journal, "line "); }

    QStringList journal;
    bool flashes = true;
    RecordingView view{&journal};
    PackageFiles files;
    UpdateDispatcher dispatcher;
    std::unique_ptr<RecordingRunner> runner;
};

// An installation in the state the recorded lines below expect: the recorder
// runs nothing, so what the steps look at must already be in place.
void writeRecordedInstall(const QString& base)
{
    writeExecutable(base + "/Kestrel", "#!/bin/sh\n");
    writeTree(base, {{"/a.txt", "old a"},
                     {"/download/a.txt", "new a"},
                     {"/download/sub/b.txt", "new b"},
                     {"/Data/contact.xml", "contacts"},
                     {"/Data/sms.xml", "sms"},
                     {"/.private_data_bak/contact.xml", "saved contacts"},
                     {"/finish.sh", "#!/bin/sh\n"},
                     {"/Description.xml", "<d/>"},
                     {"/UserSelection.xml", "<s/>"},
                     {"/Soft.zip", "zip"}});
}

const QStringList stopLines{"line Stopping %1: the connection drops for a moment...",
                            "$ kill 1234",
                            "$ kill -9 `pidof 'Kestrel'`",
                            "$ rm -rf /dev/ttyUSB1",
                            "unmark Download",
                            "progress 0"};

const QStringList firmwareMatch{"mark Firmware", "firmware"};

const QStringList firmwareMismatch{"mark Firmware", "line Update  firmware failed.",
                                   "unmark Firmware", "progress 100"};

const QStringList softwareStart{"mark Software",
                                "progress 5",
                                "line Unzip package...",
                                "$ rm -rf -- '@/download'; mkdir -m 0700 -- '@/download' "
                                "2>/dev/null; unzip '@/Soft.zip' -d  '@/download' >/dev/null "
                                "</dev/null",
                                "$ chmod -R go-w -- '@/download'",
                                "progress 25"};

// A private data file linked (or copied) from one directory to another.
QString linked(const QString& from, const QString& to)
{
    const QString paths = "'@" + from + "' '@" + to + "'";
    return "{ ln -f -- " + paths + " 2>/dev/null || cp -a --remove-destination -- " + paths + "; }";
}

// The files named by a list of the install journal linked (or copied) under target.
QString listed(const QString& list, const QString& target)
{
    const QString xargs = "xargs -0 -r -a '@/.install_journal/" + list + "' cp -a";
    const QString options = " --parents --remove-destination -t '@" + target + "' --";
    return "{ " + xargs + 'l' + options + " 2>/dev/null || " + xargs + options + "; }";
}

const QString syncLine = "sync -f -- '@'";

const QStringList savePrivateData{
    "line Backup user private data",
    "$ rm -rf -- '@/.private_data_bak' && mkdir -m 0700 -- '@/.private_data_bak' && " +
        linked("/Data/contact.xml", "/.private_data_bak/contact.xml") + " && " +
        linked("/Data/sms.xml", "/.private_data_bak/sms.xml")};

const QStringList backupAndCopy{
    "progress 30",
    "line Backup current version",
    "$ mkdir -m 0700 -- '@/bak' && cd -- '@' && " + listed("replaced", "/bak") + " && " + syncLine,
    "progress 50",
    "line Start update software",
    "$ " + syncLine + " && cd -- '@/download' && " + listed("package", "") + " && " + syncLine,
    "progress 70"};

const QStringList restorePrivateData{"$ " +
                                     linked("/.private_data_bak/contact.xml", "/Data/contact.xml")};

const QStringList cleanUpLines{"progress 80",
                               "$ " + syncLine +
                                   " && rm -rf -- '@/download' '@/bak' '@/.private_data_bak' "
                                   "'@/.install_journal' '@/Soft.zip'",
                               "progress 90"};

const QStringList softwareEnd =
    QStringList{"$ rm -rf -- '@/.unpacked_package' && mv -- '@/download' '@/.unpacked_package'",
                "$ chmod a+x '@/finish.sh'",
                "$ " + syncLine + "; cd -- '@' && timeout -k 10 300 '@/finish.sh'",
                "$ rm -f '@/finish.sh'", "$ chmod 4755 '@/Kestrel'"} +
    cleanUpLines + QStringList{"progress 100", "unmark Software", "line update end"};

const QStringList softwarePlain = softwareStart + backupAndCopy + softwareEnd;
const QStringList softwareWithBackup =
    softwareStart + savePrivateData + backupAndCopy + restorePrivateData + softwareEnd;

const QStringList endLines{"mark End",
                           "$ rm -f '@/updatebak.ini'",
                           "hide",
                           "$ rm -f '@/Description.xml'",
                           "$ rm -f '@/UserSelection.xml'",
                           "start @/Kestrel in @",
                           "end 0"};

mode_t modeBits(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QStringList filesNamedLike(const QString& root, const QString& pattern)
{
    QStringList found;
    QDirIterator it(root, {pattern}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}

} // namespace

class TestSoftwareUpdate final : public QObject {
    Q_OBJECT

private slots:
    void init();

    void successRunsTheChosenStepsInOrder_data();
    void successRunsTheChosenStepsInOrder();
    void failedDownloadOnlyRemovesExistingWorkFiles_data();
    void failedDownloadOnlyRemovesExistingWorkFiles();
    void dialerIsStoppedOnlyByAProcessId_data();
    void dialerIsStoppedOnlyByAProcessId();
    void cmNameNeverBreaksOutOfItsQuotes_data();
    void cmNameNeverBreaksOutOfItsQuotes();
    void unsafePackageNameIsRefused_data();
    void unsafePackageNameIsRefused();
    void failedStepsEndTheUpdateSafely_data();
    void failedStepsEndTheUpdateSafely();
    void failuresAreToldLast_data();
    void failuresAreToldLast();

    void realUpdateReplacesTheInstallation_data();
    void realUpdateReplacesTheInstallation();
    void realFailureRestoresEveryByte_data();
    void realFailureRestoresEveryByte();
    void realHostileNamesRunNothing();

    void markerHoldsExactlyTheFlag();
    void connectionManagerStartsDetachedFromTheUpdater();

private:
    QString root() const { return tmp->path(); }
    QString base() const { return root() + "/inst"; }
    Installation settings() const;
    void writeRealInstall();
    void writeRealPackage(const QString& zipPath, bool withHook = true);

    std::unique_ptr<QTemporaryDir> tmp;
};

Installation TestSoftwareUpdate::settings() const
{
    return installationAt(base(), "Kestrel", "1234");
}

void TestSoftwareUpdate::init()
{
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
    QVERIFY(QDir().mkpath(base()));
}

void TestSoftwareUpdate::successRunsTheChosenStepsInOrder_data()
{
    QTest::addColumn<int>("module");
    QTest::addColumn<bool>("backup");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("software with backup")
        << int(SELECTED_SOFTWARE) << true << "RX481" << softwareWithBackup;
    QTest::newRow("software") << int(SELECTED_SOFTWARE) << false << "RX481" << softwarePlain;
    QTest::newRow("firmware") << int(SELECTED_FIRMWARE) << false << "RX481" << firmwareMatch;
    QTest::newRow("firmware for another device")
        << int(SELECTED_FIRMWARE) << false << "rx481" << firmwareMismatch;
    QTest::newRow("both") << int(SELECTED_BOTH) << false << "RX481"
                          << firmwareMatch + softwarePlain;
    QTest::newRow("both, firmware for another device")
        << int(SELECTED_BOTH) << true << "RX482" << firmwareMismatch + softwareWithBackup;
    QTest::newRow("none") << int(SELECTED_NONE) << false << "RX481" << QStringList{};
}

void TestSoftwareUpdate::successRunsTheChosenStepsInOrder()
{
    QFETCH(int, module);
    QFETCH(bool, backup);
    QFETCH(QString, device);
    QFETCH(QStringList, steps);
    writeRecordedInstall(base());
    Run run(settings(), true);

    run.dispatcher.downloadFinished(
        {SelectedModule(module), backup, device, QStringLiteral("Soft.zip")});

    QCOMPARE(run.journal, expanded(stopLines + steps + endLines, base()));
}

Q_DECLARE_METATYPE(DownloadOutcome)

void TestSoftwareUpdate::failedDownloadOnlyRemovesExistingWorkFiles_data()
{
    QTest::addColumn<DownloadOutcome>("download");
    QTest::addColumn<QString>("record");  // "result reason software-outcome firmware-outcome"
    QTest::addColumn<bool>("remembered"); // told, and the package is not offered again

    QTest::newRow("failed") << DownloadOutcome::Failed << "failed download-failed failed failed"
                            << false;
    QTest::newRow("cancelled") << DownloadOutcome::Cancelled
                               << "cancelled user-cancelled cancelled cancelled" << false;
    QTest::newRow("unverified") << DownloadOutcome::Refused
                                << "refused package-unverified refused refused" << false;
    QTest::newRow("broken") << DownloadOutcome::PackageBroken
                            << "refused package-broken refused refused" << true;
}

// A download that installs nothing: nothing stopped, the work files gone,
// status 1, and the history says why.
void TestSoftwareUpdate::failedDownloadOnlyRemovesExistingWorkFiles()
{
    QFETCH(DownloadOutcome, download);
    QFETCH(bool, remembered);
    writeRecordedInstall(base());
    Run run(settings(), true);
    UpdateChoice choice{SELECTED_BOTH, true, "RX481", "Soft.zip"};
    choice.download = download;
    choice.softwareDigest = "md5:00112233445566778899aabbccddeeff";

    run.dispatcher.downloadFinished(choice);

    const QStringList warnings = entriesWith(run.journal, "warning ");
    QCOMPARE(!warnings.isEmpty(), remembered);
    QCOMPARE(isKnownBad(base(), choice.softwareDigest), remembered);
    QStringList journal = run.journal;
    journal.removeIf([](const QString& entry) { return entry.startsWith("warning "); });
    QCOMPARE(journal, expanded({"hide", "$ rm -f '@/Description.xml'",
                                "$ rm -f '@/UserSelection.xml'", "end 1"},
                               base()));
    const QList<QByteArray> history = readHistory(base());
    QCOMPARE(history.size(), 1);
    const QJsonObject record = QJsonDocument::fromJson(history.first()).object();
    const QStringList words{record.value("result").toString(), record.value("reason").toString(),
                            record.value("software").toObject().value("outcome").toString(),
                            record.value("firmware").toObject().value("outcome").toString()};
    QTEST(words.join(' '), "record");
}

void TestSoftwareUpdate::dialerIsStoppedOnlyByAProcessId_data()
{
    QTest::addColumn<QString>("wvdial");
    QTest::addColumn<QStringList>("dialerLines");

    QTest::newRow("process id") << "1234" << QStringList{"1234"};
    QTest::newRow("zero") << "0" << QStringList{};
    QTest::newRow("zeros") << "000" << QStringList{};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("trailing letters") << "12a" << QStringList{};
    QTest::newRow("negative") << "-5" << QStringList{};
    QTest::newRow("plus sign") << "+5" << QStringList{};
    QTest::newRow("blank") << " 12" << QStringList{};
    QTest::newRow("command") << "1; reboot" << QStringList{};
    QTest::newRow("too large") << "99999999999" << QStringList{};
}

void TestSoftwareUpdate::dialerIsStoppedOnlyByAProcessId()
{
    QFETCH(QString, wvdial);
    QFETCH(QStringList, dialerLines);
    Installation install = settings();
    install.WVDIAL = wvdial;
    Run run(install, true);

    run.dispatcher.downloadFinished({SELECTED_NONE, false, "RX481", ""});

    QCOMPARE(entriesWith(entriesWith(run.journal, "$ "), "kill "),
             dialerLines + QStringList{"-9 `pidof 'Kestrel'`"});
}

void TestSoftwareUpdate::cmNameNeverBreaksOutOfItsQuotes_data()
{
    QTest::addColumn<QString>("cmName");
    QTest::addColumn<bool>("plain");

    QTest::newRow("plain") << "Kestrel-2.0_b" << true;
    QTest::newRow("command list") << "x; touch pwned" << false;
    QTest::newRow("substitution") << "$(touch pwned)" << false;
    QTest::newRow("backquotes") << "`touch pwned`" << false;
    QTest::newRow("closing backquote") << "x` ; touch pwned ; `" << false;
    QTest::newRow("escaped backquote") << "a\\`touch pwned`\\" << false;
    QTest::newRow("backslashes") << "a\\\\$(touch pwned)\\$x" << false;
    QTest::newRow("quote") << "a'b'; touch pwned; '" << false;
    QTest::newRow("double quote") << "a\"; touch pwned; \"" << false;
    QTest::newRow("newline") << "a\ntouch pwned" << false;
    QTest::newRow("path") << "../bin/touch pwned" << false;
}

void TestSoftwareUpdate::cmNameNeverBreaksOutOfItsQuotes()
{
    QFETCH(QString, cmName);
    QFETCH(bool, plain);
    Installation install = settings();
    install.CM_NAME = cmName;
    // Even an executable that exists under a name that is not plain is left alone.
    writeExecutable(base() + '/' + cmName, "#!/bin/sh\n");
    writeFile(base() + "/Soft.zip", "zip");
    Run run(install, true);

    run.dispatcher.downloadFinished({SELECTED_SOFTWARE, false, "RX481", "Soft.zip"});

    const QStringList killLines = entriesWith(entriesWith(run.journal, "$ "), "kill -9 ");
    // Only a plain program name is ever killed.
    QCOMPARE(killLines.size(), plain ? 1 : 0);
    for (const QString& killLine : killLines) {
        // The recorded line, run for real with harmless stand-ins for pidof and kill,
        // by dash and by bash, which differ in how they read backquotes.
        const QString work = root() + "/work";
        QVERIFY(QDir().mkpath(work));
        const QString line =
            "cd " + shellQuote(work) +
            " && pidof() { printf '%s\\n' \"$@\" > args; }; kill() { :; }; kill -9 " + killLine;
        for (const char* shell : {"sh", "bash"}) {
            QVERIFY(QFile::remove(work + "/args") || !QFileInfo::exists(work + "/args"));
            const QString run = shell + (" -c " + shellQuote(line));
            QCOMPARE(std::system(run.toLocal8Bit().constData()), 0);
            QCOMPARE(readFile(work + "/args"), cmName.toLocal8Bit() + '\n');
            QCOMPARE(QDir(work).entryList(QDir::Files), QStringList{"args"});
        }
    }

    const QStringList setUserId = entriesWith(entriesWith(run.journal, "$ "), "chmod 4755 ");
    const QStringList started = entriesWith(run.journal, "start ");
    if (plain) {
        QCOMPARE(setUserId, QStringList{shellQuote(base() + '/' + cmName)});
        QCOMPARE(started, QStringList{base() + '/' + cmName + " in " + base()});
    } else {
        QVERIFY(setUserId.isEmpty());
        QVERIFY(started.isEmpty());
    }
}

void TestSoftwareUpdate::unsafePackageNameIsRefused_data()
{
    QTest::addColumn<QString>("filename");

    QTest::newRow("parent") << "../outside.zip";
    QTest::newRow("absolute") << "/etc/passwd";
    QTest::newRow("empty") << "";
    QTest::newRow("missing") << "Missing.zip";
    QTest::newRow("directory") << "Data";
}

void TestSoftwareUpdate::unsafePackageNameIsRefused()
{
    QFETCH(QString, filename);
    writeFile(root() + "/outside.zip", "zip");
    writeFile(base() + "/Data/contact.xml", "contacts");
    Run run(settings(), true);

    QVERIFY(!run.dispatcher.updateSW(filename, true));

    QCOMPARE(run.journal, (QStringList{"line Invalid software package.", "progress 100",
                                       "unmark Software", "line update end"}));
    QVERIFY(!QFileInfo::exists(base() + "/updatebak.ini"));
}

void TestSoftwareUpdate::failedStepsEndTheUpdateSafely_data()
{
    QTest::addColumn<QString>("failingLine");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("afterFailure");

    const QStringList cleanUp = entriesWith(cleanUpLines, "$ ");
    QTest::newRow("unpack")
        << "rm -rf -- '@/download'; mkdir -m 0700 -- '@/download' 2>/dev/null; unzip "
        << QStringList{"Unzip package...", "update fail.restore...", "update end"} << cleanUp;
    QTest::newRow("private data") << "rm -rf -- '@/.private_data_bak'"
                                  << QStringList{"Unzip package...", "Backup user private data",
                                                 "update fail.restore...", "update end"}
                                  << cleanUp;
    QTest::newRow("current version")
        << "rm -rf -- '@/bak'"
        << QStringList{"Unzip package...", "Backup user private data", "Backup current version",
                       "update fail.restore...", "update end"}
        << cleanUp;
    // Only a failed copy has something to put back; the rest of the steps but
    // the new version's hook still run.
    QTest::newRow("copy") << syncLine + " && cd -- '@/download'"
                          << QStringList{"Unzip package...",       "Backup user private data",
                                         "Backup current version", "Start update software",
                                         "update fail.restore...", "update end"}
                          << QStringList{"cd -- '@' && xargs -0 -r -a '@/.install_journal/added' "
                                         "rm -f -- && { xargs -0 -r -a '@/.install_journal/dirs' "
                                         "rmdir --ignore-fail-on-non-empty -- 2>/dev/null; cd -- "
                                         "'@/bak' && " +
                                             listed("restored", "") + "; }",
                                         linked("/.private_data_bak/contact.xml",
                                                "/Data/contact.xml"),
                                         "chmod 4755 '@/Kestrel'"} +
                                 cleanUp;
    // A restore that fails keeps the backup, the private data and the journal
    // for the next start, and says so.
    QTest::newRow("restore") << "cd -- '@' && xargs"
                             << QStringList{"Unzip package...",
                                            "Backup user private data",
                                            "Backup current version",
                                            "Start update software",
                                            "update fail.restore...",
                                            "Restore incomplete, backup kept.",
                                            "update end"}
                             << QStringList{
                                    linked("/.private_data_bak/contact.xml", "/Data/contact.xml"),
                                    "chmod 4755 '@/Kestrel'",
                                    "rm -rf -- '@/download' '@/Soft.zip'"};
}

void TestSoftwareUpdate::failedStepsEndTheUpdateSafely()
{
    QFETCH(QString, failingLine);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, afterFailure);
    writeRecordedInstall(base());
    writeFile(base() + "/bak/a.txt", "old a");
    Run run(settings(), true);
    run.runner->answer(expanded({failingLine}, base()).first(), exitedWith(9));
    // The restore row lets the copy fail first.
    if (failingLine.startsWith("cd -- '@' && xargs"))
        run.runner->answer(expanded({syncLine + " && cd"}, base()).first(), exitedWith(1));

    QVERIFY(!run.dispatcher.updateSW("Soft.zip", true));

    QCOMPARE(run.listLines(), listed);
    const QStringList lines = entriesWith(run.journal, "$ ");
    const QString failing = expanded({failingLine}, base()).first();
    const auto failed = std::find_if(lines.cbegin(), lines.cend(),
                                     [&](const QString& line) { return line.startsWith(failing); });
    QVERIFY(failed != lines.cend());
    QCOMPARE(QStringList(failed + 1, lines.cend()), expanded(afterFailure, base()));
}

void TestSoftwareUpdate::failuresAreToldLast_data()
{
    QTest::addColumn<int>("module");
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("flashes");
    QTest::addColumn<bool>("copies");
    QTest::addColumn<QStringList>("told");
    QTest::addColumn<bool>("restored"); // the roll-back found its backup

    const QString firmware = "The modem firmware was not updated. Keep the modem plugged in and "
                             "run the update again.";
    const QString software = "The software update failed and the previous version was restored.";
    const QString pending =
        "The software update failed and some files of the previous version could not be put back "
        "yet. They are kept and will be put back when the computer starts again. Restart the "
        "computer; if this message comes again, make sure that the installation directory can be "
        "written.";
    QTest::newRow("flash failed") << int(SELECTED_FIRMWARE) << "RX481" << false << true
                                  << QStringList{firmware} << true;
    QTest::newRow("both failed") << int(SELECTED_BOTH) << "RX481" << false << false
                                 << QStringList{firmware, software} << true;
    QTest::newRow("software rolled back")
        << int(SELECTED_BOTH) << "RX481" << true << false << QStringList{software} << true;
    // Its own executable is the previous one, so the connection manager starts.
    QTest::newRow("roll-back incomplete")
        << int(SELECTED_SOFTWARE) << "RX481" << true << false << QStringList{pending} << false;
    // Firmware for another model is not worth another try.
    QTest::newRow("device mismatch")
        << int(SELECTED_FIRMWARE) << "RX999" << false << true << QStringList{} << true;
    QTest::newRow("all went well")
        << int(SELECTED_BOTH) << "RX481" << true << true << QStringList{} << true;
}

void TestSoftwareUpdate::failuresAreToldLast()
{
    QFETCH(int, module);
    QFETCH(QString, device);
    QFETCH(bool, flashes);
    QFETCH(bool, copies);
    QFETCH(QStringList, told);
    QFETCH(bool, restored);
    writeRecordedInstall(base());
    // What the backup line would have saved, so that a roll-back finds it back.
    if (restored)
        writeFile(base() + "/bak/a.txt", "old a");
    Run run(settings(), true);
    run.flashes = flashes;
    if (!copies)
        run.runner->answer(expanded({syncLine + " && cd -- '@/download'"}, base()).first(),
                           exitedWith(1));
    QStringList warnings;
    for (const QString& text : told) {
        warnings << "warning " + text;
        QTest::ignoreMessage(QtWarningMsg,
                             text.startsWith("The modem") ? "firmware update failed"
                             : restored ? "software update failed, previous version kept"
                                        : "software update failed, restore left to the next start");
    }

    run.dispatcher.downloadFinished({SelectedModule(module), false, device, "Soft.zip"});

    // Told after the whole end: work files removed, the connection manager back.
    const QStringList restart{"start @/Kestrel in @"};
    const QStringList tail =
        run.journal.mid(run.journal.size() - warnings.size() - 2 - restart.size());
    QCOMPARE(tail, expanded(QStringList{"$ rm -f '@/UserSelection.xml'"} + restart, base()) +
                       warnings + QStringList{"end 0"});
}

void TestSoftwareUpdate::writeRealInstall()
{
    writeExecutable(base() + "/Kestrel", "#!/bin/sh\necho old\n");
    writeTree(base(), {{"/a.txt", "old a"},
                       {"/keep.txt", "mine"},
                       {"/sub/c.txt", "old c"},
                       {"/Data/contact.xml", "my contacts"},
                       {"/Data/sms.xml", "my sms"}});
}

void TestSoftwareUpdate::writeRealPackage(const QString& zipPath, bool withHook)
{
    const QString content = root() + "/package";
    writeExecutable(content + "/Kestrel", "#!/bin/sh\necho new\n");
    writeTree(content, {{"/a.txt", "new a"},
                        {"/sub/c.txt", "new c"},
                        {"/sub/b.txt", "new b"},
                        {"/Data/contact.xml", "package contacts"}});
    if (withHook)
        writeTree(content,
                  {{"/finish.sh", "#!/bin/sh\necho ran >> \"$(dirname \"$0\")/hook.log\"\n"}});
    QVERIFY(makeZip(content, zipPath));
}

void TestSoftwareUpdate::realUpdateReplacesTheInstallation_data()
{
    QTest::addColumn<bool>("backup");
    QTest::addColumn<QByteArray>("contacts");
    QTest::addColumn<bool>("hook");

    QTest::newRow("private data kept") << true << QByteArray("my contacts") << true;
    QTest::newRow("private data replaced") << false << QByteArray("package contacts") << true;
    QTest::newRow("no finish.sh") << true << QByteArray("my contacts") << false;
}

void TestSoftwareUpdate::realUpdateReplacesTheInstallation()
{
    QFETCH(bool, backup);
    QFETCH(QByteArray, contacts);
    QFETCH(bool, hook);
    writeRealInstall();
    writeFile(base() + "/download/stale.txt", "left by an interrupted run");
    writeRealPackage(base() + "/Soft.zip", hook);
    Run run(settings(), false);

    QVERIFY(run.dispatcher.updateSW("Soft.zip", backup));
    // What the dispatcher does once the connection manager runs again.
    keepInstalledTree(base(), true);

    QCOMPARE(run.listLines().last(), QStringLiteral("update end"));
    QCOMPARE(modeBits(base() + "/Kestrel"), mode_t(04755));
    const QMap<QString, QByteArray> expected{{"/Kestrel", "#!/bin/sh\necho new\n"},
                                             {"/a.txt", "new a"},
                                             {"/keep.txt", "mine"},
                                             {"/sub", "<dir>"},
                                             {"/sub/b.txt", "new b"},
                                             {"/sub/c.txt", "new c"},
                                             {"/Data", "<dir>"},
                                             {"/Data/contact.xml", contacts},
                                             {"/Data/sms.xml", "my sms"},
                                             {"/updatebak.ini", "NEED_RETURN=1\n"}};
    QMap<QString, QByteArray> installed = snapshot(base());
    QCOMPARE(installed.take("/hook.log"), hook ? QByteArray("ran\n") : QByteArray());
    // The package's tree is kept as unpacked, whatever the private data and the hook did.
    QMap<QString, QByteArray> kept;
    for (const QString& name : installed.keys()) {
        if (name.startsWith("/.installed_package"))
            kept.insert(name.mid(19), installed.take(name));
    }
    QCOMPARE(installed, expected);
    QCOMPARE(kept.value("/a.txt"), QByteArray("new a"));
    QCOMPARE(kept.value("/Data/contact.xml"), QByteArray("package contacts"));
    QCOMPARE(kept.contains("/finish.sh"), hook);
}

void TestSoftwareUpdate::realFailureRestoresEveryByte_data()
{
    QTest::addColumn<QString>("conflict");
    QTest::addColumn<QStringList>("listed");

    // Where the package has a regular file the installation has a directory,
    // which cp cannot overwrite even with the rights of root.
    QTest::newRow("copy fails") << "/conflict"
                                << QStringList{"Unzip package...",       "Backup user private data",
                                               "Backup current version", "Start update software",
                                               "update fail.restore...", "update end"};
    QTest::newRow("broken package")
        << QString() << QStringList{"Unzip package...", "update fail.restore...", "update end"};
}

void TestSoftwareUpdate::realFailureRestoresEveryByte()
{
    QFETCH(QString, conflict);
    QFETCH(QStringList, listed);
    writeRealInstall();
    if (!conflict.isEmpty())
        writeFile(base() + conflict + "/inside.txt", "directory content");
    const QMap<QString, QByteArray> before = snapshot(base());
    if (conflict.isEmpty()) {
        writeFile(base() + "/Soft.zip", "PK but not really an archive");
    } else {
        writeTree(root() + "/package", {{conflict, "a file"}, {"/added.txt", "added"}});
        writeRealPackage(base() + "/Soft.zip");
    }
    Run run(settings(), false);

    QVERIFY(!run.dispatcher.updateSW("Soft.zip", true));

    QCOMPARE(run.listLines(), listed);
    QMap<QString, QByteArray> after = snapshot(base());
    QCOMPARE(after.take("/updatebak.ini"), QByteArray("NEED_RETURN=1\n"));
    QCOMPARE(after, before);
}

void TestSoftwareUpdate::realHostileNamesRunNothing()
{
    const QString hostileBase = root() + "/in'st $(touch pwned1) `touch pwned2`; touch pwned3";
    const QString cmName = "Kes'trel; touch pwned4";
    const QString packageName = "p'kg $(touch pwned5).zip";
    const QString hostileFile = "/x'; touch pwned6 #.txt";
    writeExecutable(hostileBase + '/' + cmName, "old");
    writeFile(hostileBase + hostileFile, "old x");
    writeFile(root() + "/package" + hostileFile, "new x");
    writeExecutable(root() + "/package/" + cmName, "new");
    QVERIFY(makeZip(root() + "/package", hostileBase + '/' + packageName));
    const QString work = root() + "/work";
    QVERIFY(QDir().mkpath(work));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work));
    Run run(installationAt(hostileBase, cmName), false);

    const bool installed = run.dispatcher.updateSW(packageName, true);

    QVERIFY(QDir::setCurrent(previous));
    QVERIFY(installed);
    QCOMPARE(filesNamedLike(root(), "pwned*"), QStringList{});
    QCOMPARE(readFile(hostileBase + hostileFile), QByteArray("new x"));
    // A name no program has is never made set-user-id.
    QCOMPARE(modeBits(hostileBase + '/' + cmName), mode_t(0755));
    QVERIFY(!QFileInfo::exists(hostileBase + '/' + packageName));
}

void TestSoftwareUpdate::markerHoldsExactlyTheFlag()
{
    writeFile(base() + "/updatebak.ini", "NEED_RETURN=0\nsomething much longer than the flag\n");
    Run run(settings(), false);
    Run nowhere(installationAt(root() + "/no such dir"), false);

    run.dispatcher.writeUpdatebak();
    nowhere.dispatcher.writeUpdatebak();

    QCOMPARE(readFile(base() + "/updatebak.ini"), QByteArray("NEED_RETURN=1\n"));
    QVERIFY(!QFileInfo::exists(root() + "/no such dir"));
}

void TestSoftwareUpdate::connectionManagerStartsDetachedFromTheUpdater()
{
    const QString program = base() + "/Kestrel";
    writeExecutable(program, "#!/bin/sh\nfds=$(for n in 0 1 2; do readlink /proc/$$/fd/$n; done)\n"
                             "printf '%s\\n%s\\n' \"$PWD\" \"$fds\" > \"$0.tmp\"\n"
                             "mv \"$0.tmp\" \"$0.out\"\n");

    QVERIFY(startDetachedProcess(program, base()));

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(program + ".out"), 10000);
    QCOMPARE(readFile(program + ".out"),
             (base() + "\n/dev/null\n/dev/null\n/dev/null\n").toLocal8Bit());
    QVERIFY(!startDetachedProcess(base() + "/missing", base()));
}

QTEST_GUILESS_MAIN(TestSoftwareUpdate)
#include "tst_softwareupdate.moc"
