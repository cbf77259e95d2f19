// A release from a folder, as a help desk's USB stick brings it: bundled by
// the publisher's tool, it installs with no server anywhere; changed, it is
// refused for its reason.

#include "sandbox.h"
#include "updatesource.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

void run(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    QVERIFY(tool.waitForFinished());
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
}

} // namespace

// What happens to the bundled folder before it reaches the installation.
enum class Folder { AsBundled, Unsigned, Tampered, Expired, Linked };
Q_DECLARE_METATYPE(Folder)

class FolderEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void updatesFromAFolder_data();
    void updatesFromAFolder();

private:
    // The folder as the stick brings it, changed as the row says.
    void makeFolder(const Sandbox& sandbox, const QString& folder, Folder change) const;

    QTemporaryDir work;
};

// A signed 2.0 with a key list of its own, bundled by the publisher's tool.
void FolderEndToEndTest::initTestCase()
{
    const QString keys = work.filePath("keys");
    const QString release = work.filePath("release");
    run(PUBLISH_TOOL, {"keygen", keys});
    UpdateSource source(release);
    source.addSoftware("sw.zip", {{"Kestrel", "#!/bin/sh\nexit 0\n"}, {"a.txt", "new a\n"}});
    run(PUBLISH_TOOL, {"describe", "--output", release + "/Description.xml", "--version", "2.0",
                       "--device", "RX481", "--client-group", "retail", "--url-base",
                       "http://127.0.0.1:9/", "--software", release + "/sw.zip"});
    run(PUBLISH_TOOL, {"sign", "--key", keys + "/publisher-key.pem", release + "/Description.xml"});
    run(PUBLISH_TOOL, {"rotate", "--key", keys + "/publisher-key.pem", "--trust",
                       keys + "/update-key.pem", "--version", "2", "--output", release});
    run(PUBLISH_TOOL,
        {"bundle", release + "/Description.xml", "--output", work.filePath("bundle")});
    QVERIFY(QFile::exists(work.filePath("bundle/Keys.xml.sig")));
}

void FolderEndToEndTest::makeFolder(const Sandbox& sandbox, const QString& folder,
                                    Folder change) const
{
    QVERIFY(QDir().mkpath(folder));
    const QDir bundle(work.filePath("bundle"));
    for (const QString& name : bundle.entryList(QDir::Files))
        QVERIFY(QFile::copy(bundle.filePath(name), folder + '/' + name));
    const QString description = folder + "/Description.xml";
    if (change == Folder::Unsigned) {
        QVERIFY(QFile::remove(description + ".sig"));
    } else if (change == Folder::Tampered) {
        QByteArray package = sandbox.readFile(folder + "/sw.zip");
        package[package.size() / 2] = char(package[package.size() / 2] ^ 1);
        sandbox.writeFile(folder + "/sw.zip", package);
    } else if (change == Folder::Linked) {
        // The package the description names is a link, here to the very package.
        QVERIFY(QFile::remove(folder + "/sw.zip"));
        QVERIFY(QFile::link(work.filePath("bundle/sw.zip"), folder + "/sw.zip"));
    } else if (change == Folder::Expired) {
        // Signed by the publisher years ago, when it was current.
        QByteArray old = sandbox.readFile(description);
        old.replace(old.indexOf("<Issued>") + 8, 4, "2019");
        old.replace(old.indexOf("<Expires>") + 9, 4, "2020");
        sandbox.writeFile(description, old);
        QVERIFY(QFile::remove(description + ".sig"));
        run("openssl",
            {"pkeyutl", "-sign", "-rawin", "-inkey", work.filePath("keys/publisher-key.pem"), "-in",
             description, "-out", description + ".sig"});
    }
}

void FolderEndToEndTest::updatesFromAFolder_data()
{
    QTest::addColumn<Folder>("folder");
    QTest::addColumn<bool>("window"); // clicked through by the autopilot
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("said"); // on standard output or error
    QTest::addColumn<QByteArray>("installed");

    QTest::newRow("as bundled") << Folder::AsBundled << false << 0
                                << QByteArray("--update: installed") << QByteArray("new a\n");
    QTest::newRow("unsigned") << Folder::Unsigned << false << 1
                              << QByteArray("refused: no-signature") << QByteArray("old a\n");
    QTest::newRow("tampered") << Folder::Tampered << false << 1 << QByteArray("--update: refused")
                              << QByteArray("old a\n");
    QTest::newRow("expired") << Folder::Expired << false << 1
                             << QByteArray("The update in this folder is too old")
                             << QByteArray("old a\n");
    QTest::newRow("a link") << Folder::Linked << false << 1 << QByteArray("refused: a link")
                            << QByteArray("old a\n");
    QTest::newRow("as bundled, in the window")
        << Folder::AsBundled << true << 0 << QByteArray() << QByteArray("new a\n");
}

void FolderEndToEndTest::updatesFromAFolder()
{
    QFETCH(Folder, folder);
    QFETCH(bool, window);
    QFETCH(int, status);
    QFETCH(QByteArray, said);
    QFETCH(QByteArray, installed);
    Sandbox sandbox;
    makeFolder(sandbox, sandbox.scratch("stick"), folder);
    writeTree(sandbox.installation(), {{"a.txt", "old a\n"}});
    QVERIFY(QFile::copy(work.filePath("keys/update-key.pem"), sandbox.path("update-key.pem")));
    // No server anywhere: the port is closed.
    sandbox.writeSettings("http://127.0.0.1:9/");

    sandbox.setEnv("AUTOPILOT_TICK", "0");
    sandbox.setEnv("AUTOPILOT_NO_PAUSE", "1");
    const Sandbox::Result result =
        sandbox.run(QString(window ? "LD_PRELOAD='" AUTOPILOT_LIB "' ./cmupdater --from ../stick"
                                   : "./cmupdater --update --from ../stick") +
                        "; echo $? > updater.rc",
                    60000);

    QVERIFY2(result.finished, result.err.constData());
    QCOMPARE(sandbox.readFile(sandbox.path("updater.rc")).trimmed().toInt(), status);
    QVERIFY2(result.out.contains(said) || result.err.contains(said),
             (result.out + result.err).constData());
    QCOMPARE(sandbox.readFile(sandbox.path("a.txt")), installed);
    // A package chosen after the check, installed or not, is recorded as the folder's.
    const QByteArray history = sandbox.readFile(sandbox.path("update-history.jsonl"));
    QCOMPARE(history.contains("\"source\":\"folder\""),
             folder != Folder::Unsigned && folder != Folder::Expired);
}

QTEST_GUILESS_MAIN(FolderEndToEndTest)
#include "tst_folder_e2e.moc"
