// The publisher's tool as a publisher runs it: a key pair, a description of
// the package files, its signature, and the checks, each bad input refused
// with a clear message and nothing half-written left behind.

#include "agent/LocalHttpServer.h"
#include "software/packagecheck.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// Text the updater must read back exactly: markup, quotes and non-ASCII.
const QString trickyText = QString::fromUtf8("Fixes <b>&amp; \"quotes\" 'too' – Grüße 你好");

} // namespace

class PublishTest final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void roundTrip();
    void badInputFailsCleanly_data();
    void badInputFailsCleanly();
    void lintNamesEveryProblem();
    void signHoldsToTheTimeLimits();
    void keyListsAreCheckedAsInstallationsTakeThem();
    void badReleasesNeverPass_data();
    void badReleasesNeverPass();
    void linksCountWhateverSystemMadeThem_data();
    void linksCountWhateverSystemMadeThem();
    void rolloutChangesAreIssuedAnewAndSigned_data();
    void rolloutChangesAreIssuedAnewAndSigned();

private:
    Run publish(const QStringList& arguments) const;
    QString path(const QString& name) const { return dir->filePath(name); }
    void write(const QString& name, const QByteArray& content) const;
    // A zip archive made by a Python body that fills the ZipFile z (helpers:
    // member(name, mode, content[, made-by system]), link(name, target)); raw
    // bytes instead when given.
    void writeZip(const QString& name, const QString& body) const;
    QByteArray read(const QString& name) const;
    void describeAndSign() const;

    std::unique_ptr<QTemporaryDir> dir;
};

Run PublishTest::publish(const QStringList& arguments) const
{
    QProcess tool;
    tool.setWorkingDirectory(dir->path());
    tool.start(PUBLISH_TOOL, arguments);
    Run run;
    if (!tool.waitForFinished(30000))
        return run;
    run.status = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    run.out = QString::fromUtf8(tool.readAllStandardOutput());
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

void PublishTest::write(const QString& name, const QByteArray& content) const
{
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray PublishTest::read(const QString& name) const
{
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void PublishTest::writeZip(const QString& name, const QString& body) const
{
    const QString script = "import sys, zipfile\n"
                           "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                           "def member(name, mode, content, system=3):\n"
                           "    info = zipfile.ZipInfo(name)\n"
                           "    info.create_system = system\n"
                           "    info.external_attr = mode << 16\n"
                           "    z.writestr(info, content)\n"
                           "def link(name, target):\n"
                           "    member(name, 0o120777, target)\n" +
                           body + "\nz.close()\n";
    QProcess python;
    python.start("python3", {"-c", script, path(name)});
    QVERIFY(python.waitForFinished());
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
}

void PublishTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    writeZip("sw.zip", "member('Kestrel', 0o100755, 'software package bytes')");
    writeZip("fw.zip", "member('amss.mbn', 0o100644, 'f' * 100000)");
    QCOMPARE(publish({"keygen", "keys"}).status, 0);
    QCOMPARE(publish({"keygen", "other"}).status, 0);
}

// The id of the public key in a PEM file: SHA-256 of its last 32 DER bytes.
static QString opensslKeyId(const QString& directory, const QString& pem)
{
    QProcess openssl;
    openssl.setWorkingDirectory(directory);
    openssl.start("openssl", {"pkey", "-pubin", "-in", pem, "-outform", "DER"});
    if (!openssl.waitForFinished())
        return {};
    return QCryptographicHash::hash(openssl.readAllStandardOutput().right(32),
                                    QCryptographicHash::Sha256)
        .toHex()
        .left(16);
}

void PublishTest::describeAndSign() const
{
    const Run described = publish({"describe",
                                   "--version",
                                   "2.0",
                                   "--description",
                                   trickyText,
                                   "--device",
                                   "RX481",
                                   "--client-group",
                                   "retail",
                                   "--client-id",
                                   "7",
                                   "--server-ip",
                                   "10.0.0.1",
                                   "--server-port",
                                   "21",
                                   "--server-user",
                                   "u",
                                   "--server-password",
                                   "p&w",
                                   "--url-base",
                                   "https://updates.example/a b/",
                                   "--software",
                                   "sw.zip",
                                   "--text",
                                   trickyText,
                                   "--priority",
                                   "2",
                                   "--firmware",
                                   "fw.zip",
                                   "--package-version",
                                   "F2"});
    QVERIFY2(described.status == 0, qPrintable(described.err));
    QCOMPARE(publish({"sign", "--key", "keys/publisher-key.pem"}).status, 0);
}

void PublishTest::roundTrip()
{
    struct stat info {};
    QCOMPARE(stat(QFile::encodeName(path("keys/publisher-key.pem")).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0600));
    const QString id = opensslKeyId(dir->path(), "keys/update-key.pem");
    QCOMPARE(id.size(), 16);
    const Run generated = publish({"keygen", "third"});
    QVERIFY2(generated.out.contains("wrote third/update-key.pem ("), qPrintable(generated.out));
    QVERIFY(generated.out.contains("key id " + opensslKeyId(dir->path(), "third/update-key.pem")));
    describeAndSign();
    QCOMPARE(read("Description.xml.sig").size(), 64);
    QVERIFY(QFile::remove(path("Description.xml.sig")));
    const Run signedRun = publish({"sign", "--key", "keys/publisher-key.pem"});
    QVERIFY2(signedRun.out.contains("signed with key " + id), qPrintable(signedRun.out));

    const Run verified = publish({"verify", "--key", "keys/update-key.pem"});
    QVERIFY2(verified.status == 0, qPrintable(verified.out + verified.err));
    QVERIFY2(verified.out.contains("signed by key " + id), qPrintable(verified.out));

    // What the updater's parser reads back is what was given, byte for byte.
    const Run linted = publish({"lint"});
    QVERIFY2(linted.status == 0, qPrintable(linted.out + linted.err));
    QVERIFY(linted.out.contains("Description: \"" + trickyText + "\"\n"));
    QVERIFY(linted.out.contains("flag: \"5\" (a new version)"));
    QVERIFY(linted.out.contains(
        QString("Filename \"sw.zip\", Size %1, ").arg(QFileInfo(path("sw.zip")).size())));
    QVERIFY(linted.out.contains("URL https://updates.example/a b/sw.zip"));
    QVERIFY(linted.out.contains("Password \"p&w\""));
    QVERIFY(linted.out.contains(
        QString("Filename \"fw.zip\", Size %1, ").arg(QFileInfo(path("fw.zip")).size())));
    QVERIFY(linted.out.contains("Version \"F2\""));
    for (const char byte : read("Description.xml"))
        QVERIFY(byte > 0); // non-ASCII went in as character references

    // Standard tools check the tool's signature.
    QProcess openssl;
    openssl.setWorkingDirectory(dir->path());
    openssl.start("openssl",
                  {"pkeyutl", "-verify", "-pubin", "-inkey", "keys/update-key.pem", "-rawin", "-in",
                   "Description.xml", "-sigfile", "Description.xml.sig"});
    QVERIFY(openssl.waitForFinished());
    QCOMPARE(openssl.exitCode(), 0);
}

void PublishTest::badInputFailsCleanly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("untouched"); // a file that must keep its content or stay absent

    const QStringList describe = {"describe",   "--version",      "2.0",
                                  "--url-base", "file:///u",      "--output",
                                  "new.xml",    "--client-group", "retail"};
    QTest::newRow("keygen over a key pair")
        << QStringList{"keygen", "keys"} << 1 << "exists already"
        << "keys/publisher-key.pem";
    QTest::newRow("describe without version")
        << QStringList{"describe", "--software", "sw.zip", "--output", "new.xml"} << 2
        << "--version is required"
        << "new.xml";
    QTest::newRow("describe a missing package")
        << describe + QStringList{"--software", "none.zip"} << 1 << "no package file none.zip"
        << "new.xml";
    QTest::newRow("describe a control character")
        << describe + QStringList{"--software", "sw.zip", "--text", "bell\a"} << 1
        << "--text holds a control character"
        << "new.xml";
    QTest::newRow("package option before its package")
        << describe + QStringList{"--text", "t", "--software", "sw.zip"} << 2
        << "--text belongs after --software"
        << "new.xml";
    QTest::newRow("two software packages")
        << describe + QStringList{"--software", "sw.zip", "--software", "fw.zip"} << 2
        << "--software given twice"
        << "new.xml";
    QTest::newRow("malformed expiry")
        << describe + QStringList{"--software", "sw.zip", "--expires", "tomorrow"} << 2
        << "--expires must be a UTC time"
        << "new.xml";
    // Times the updater would refuse, or that would keep a copy replayable for long.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QTest::newRow("issued two days ahead")
        << describe +
               QStringList{"--software", "sw.zip", "--issued", now.addDays(2).toString(Qt::ISODate)}
        << 2 << "more than a day ahead"
        << "new.xml";
    QTest::newRow("valid for 91 days")
        << describe + QStringList{"--software", "sw.zip", "--expires",
                                  now.addDays(91).toString(Qt::ISODate)}
        << 2 << "more than 90 days after Issued"
        << "new.xml";
    QTest::newRow("no URL") << QStringList{"describe",   "--version",      "2",
                                           "--software", "sw.zip",         "--output",
                                           "new.xml",    "--client-group", "retail"}
                            << 1 << "no URL for sw.zip"
                            << "new.xml";
    QTest::newRow("sign with the public key")
        << QStringList{"sign", "--key", "keys/update-key.pem"} << 1 << "no Ed25519 private key"
        << "Description.xml.sig";
    QTest::newRow("sign what is no XML")
        << QStringList{"sign", "--key", "keys/publisher-key.pem", "sw.zip"} << 1
        << "not well-formed XML"
        << "sw.zip.sig";
    QTest::newRow("verify with another key")
        << QStringList{"verify", "--key", "other/update-key.pem"} << 1 << "1 problem(s)"
        << "Description.xml.sig";
    QTest::newRow("rotate with an option for a value")
        << QStringList{"rotate",   "--key",           "--trust", "keys/update-key.pem",
                       "--output", "trusted-keys.xml"}
        << 2 << "--key needs a value"
        << "trusted-keys.xml";
    QTest::newRow("unknown command") << QStringList{"publish"} << 2 << "usage:"
                                     << "";
}

void PublishTest::badInputFailsCleanly()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QString, untouched);
    describeAndSign();
    const QByteArray before = read(untouched);
    const Run run = publish(arguments);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(read(untouched), before);
    // No temporary file of a failed write is left.
    QCOMPARE(QDir(dir->path()).entryList({".cmupdater-publish-*"}, QDir::Hidden | QDir::Files),
             QStringList());
}

// Whatever the file says: a description valid for years is not signed.
void PublishTest::signHoldsToTheTimeLimits()
{
    describeAndSign();
    QByteArray description = read("Description.xml");
    description.replace(description.indexOf("<Expires>") + 9, 20, "2099-01-01T00:00:00Z");
    write("Description.xml", description);
    QVERIFY(QFile::remove(path("Description.xml.sig")));

    const Run run = publish({"sign", "--key", "keys/publisher-key.pem"});

    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("more than 90 days after Issued"), qPrintable(run.err));
    QVERIFY(!QFile::exists(path("Description.xml.sig")));
}

void PublishTest::lintNamesEveryProblem()
{
    describeAndSign();
    const QByteArray description = read("Description.xml");
    // Mirrors on a real server: one holds the package, one lacks it, one has
    // other bytes of the same size, one is no http URL.
    LocalHttpServer server;
    const QString good = server.url() + "/good";
    const QString lacking = server.url() + "/lacking/";
    const QString other = server.url() + "/other";
    QByteArray otherBytes = read("sw.zip");
    server.setReply("/good/sw.zip", HttpReply(200, otherBytes));
    otherBytes[10] = static_cast<char>(~otherBytes[10]);
    server.setReply("/other/sw.zip", HttpReply(200, otherBytes));
    write("sw.zip", "changed after describing");
    QByteArray edited = description;
    edited.replace("<Device>RX481</Device>", "<!-- moved --><Device>RX481</Device>")
        .replace("Class=\"Firmware Version\"", "Class=\"firmware version\"")
        .replace("</Server>", "</Server><Mirror>" +
                                  QStringList{good, lacking, other, "ftp://m.example/u"}
                                      .join("</Mirror><Mirror>")
                                      .toUtf8() +
                                  "</Mirror>");
    write("Description.xml", edited);

    const Run linted = publish({"lint"});
    QCOMPARE(linted.status, 1);
    const QStringList expected = {
        "problem: header child 3: expected <Device>, found a comment",
        "problem: header child 7: expected <Expires>, found <Issued>",
        "problem: package 2: unknown Class \"firmware version\"",
        "problem: sw.zip: Size ",
        "problem: sw.zip: MD5 does not match the file",
        "problem: sw.zip: SHA256 does not match the file",
        "problem: mirror " + lacking + ": sw.zip: HTTP response code said error",
        "problem: mirror " + other + ": sw.zip: other bytes than the description's digest",
        "problem: mirror ftp://m.example/u: ftp://m.example/u must be an absolute http",
        "mirror " + good + ": holds 1 of 1 files",
    };
    for (const QString& problem : expected)
        QVERIFY2(linted.out.contains(problem), qPrintable(problem + "\n" + linted.out));
    QVERIFY2(!linted.out.contains("problem: mirror " + good), qPrintable(linted.out));

    write("Description.xml",
          QByteArray(description).replace("Filename=\"sw.zip\"", "Filename=\"../sw.zip\""));
    QVERIFY(publish({"lint"}).out.contains("problem: package 1: unsafe or empty Filename"));
    const Run verified = publish({"verify", "--key", "keys/update-key.pem"});
    QCOMPARE(verified.status, 1);
    QVERIFY(verified.out.contains("problem: bad signature"));
}

// A list moving installations from "keys" to "other": the description must
// then be signed by a key of the list, and the list by a key installations hold.
void PublishTest::keyListsAreCheckedAsInstallationsTakeThem()
{
    describeAndSign();
    const Run rotated = publish({"rotate", "--key", "keys/publisher-key.pem", "--trust",
                                 "other/update-key.pem", "--version", "2", "--output", "."});
    QVERIFY2(rotated.status == 0, qPrintable(rotated.err));
    QVERIFY2(rotated.err.contains("not in the list"), qPrintable(rotated.err));
    const QString otherId = opensslKeyId(dir->path(), "other/update-key.pem");
    QVERIFY(rotated.out.contains("version 2, keys " + otherId));

    Run verified = publish({"verify", "--key", "keys/update-key.pem"});
    QCOMPARE(verified.status, 1); // still signed by the key the list withdraws
    QVERIFY2(verified.out.contains("problem: bad signature"), qPrintable(verified.out));
    QCOMPARE(publish({"lint"}).status, 1);

    QVERIFY(QFile::remove(path("Description.xml.sig")));
    QCOMPARE(publish({"sign", "--key", "other/publisher-key.pem"}).status, 0);
    verified = publish({"verify", "--key", "keys/update-key.pem"});
    QVERIFY2(verified.status == 0, qPrintable(verified.out));
    QVERIFY(verified.out.contains("signed by key " + otherId));
    // Signed by the key it withdraws, the list's signature is one lint cannot
    // check without that key: it says so and sends the publisher to verify.
    Run linted = publish({"lint"});
    QCOMPARE(linted.status, 1);
    QVERIFY2(linted.out.contains("check it with verify --key"), qPrintable(linted.out));
    QVERIFY(linted.out.contains("description signed by key " + otherId));

    // An installation that holds only "other" never took this list's signer.
    verified = publish({"verify", "--key", "other/update-key.pem"});
    QCOMPARE(verified.status, 1);
    QVERIFY2(verified.out.contains("Keys.xml is signed by no key installations hold"),
             qPrintable(verified.out));
    QCOMPARE(publish({"rotate", "--key", "keys/publisher-key.pem", "--trust",
                      "other/update-key.pem", "--version", "1", "--output", "."})
                 .status,
             2);

    // Signed by a key it lists, lint checks the list's signature over its bytes.
    QCOMPARE(publish({"rotate", "--key", "other/publisher-key.pem", "--trust",
                      "other/update-key.pem", "--version", "3", "--output", "."})
                 .status,
             0);
    linted = publish({"lint"});
    QVERIFY2(linted.status == 0, qPrintable(linted.out));
    QByteArray signature = read("Keys.xml.sig");
    signature[10] = char(signature[10] ^ 1);
    write("Keys.xml.sig", signature);
    linted = publish({"lint"});
    QCOMPARE(linted.status, 1);
    QVERIFY2(linted.out.contains("Keys.xml.sig is the signature of none of the keys"),
             qPrintable(linted.out));
}

// Whatever the updater would refuse stops the release at describe and at
// lint; what it would take but likely not as meant passes with a warning.
void PublishTest::badReleasesNeverPass_data()
{
    QTest::addColumn<QString>("package"); // the body of writeZip for sw.zip; empty: the good one
    QTest::addColumn<QByteArray>("raw");  // bytes written over sw.zip instead
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("word");

    const QString good = "member('Kestrel', 0o100755, 'x')";
    const QByteArray none;
    QTest::newRow("not a zip") << QString() << QByteArray("<html>404</html>") << QStringList() << 1
                               << "Not a zip archive";
    QTest::newRow("empty zip") << "pass" << none << QStringList() << 1 << "no file";
    QTest::newRow("only a directory")
        << "member('lib/', 0o40755, '')" << none << QStringList() << 1 << "no file";
    QTest::newRow("bad CRC") << good + "\nz.close()\nf = open(sys.argv[1], 'r+b')\n"
                                       "f.seek(37); f.write(b'y'); f.close()\n"
                                       "z = zipfile.ZipFile(sys.argv[1], 'a')"
                             << none << QStringList() << 1 << "CRC";
    QTest::newRow("work path") << "member('bak/x', 0o100644, 'x')" << none << QStringList() << 1
                               << "bak/x";
    QTest::newRow("dot-dot") << "member('../escape.txt', 0o100644, 'x')" << none << QStringList()
                             << 1 << "../escape.txt";
    QTest::newRow("absolute") << "member('/etc/cron.d/x', 0o100644, 'x')" << none << QStringList()
                              << 1 << "/etc/cron.d/x";
    QTest::newRow("wildcard") << "member('lib/*.so', 0o100644, 'x')" << none << QStringList() << 1
                              << "lib/*.so";
    QTest::newRow("top-level dot name")
        << "member('.profile', 0o100644, 'x')" << none << QStringList() << 1 << ".profile";
    QTest::newRow("link out of the tree")
        << good + "\nlink('lib/x', '../../etc/shadow')" << none << QStringList() << 1 << "lib/x";
    QTest::newRow("absolute link")
        << good + "\nlink('lib/x', '/etc/shadow')" << none << QStringList() << 1 << "lib/x";
    QTest::newRow("version that cannot be ordered")
        << QString() << none << QStringList{"--version", "abc"} << 1 << "cannot be ordered";
    QTest::newRow("version not later")
        << QString() << none << QStringList{"--previous", "2.0.1"} << 1 << "not later";
    QTest::newRow("no client group")
        << QString() << none << QStringList{"--client-group", ""} << 1 << "--client-group";
    QTest::newRow("expired") << QString() << none
                             << QStringList{"--issued", "2020-01-01T00:00:00Z", "--expires",
                                            "2020-01-02T00:00:00Z"}
                             << 2 << "expired";
    QTest::newRow("priority") << QString() << none << QStringList{"--priority", "high"} << 1
                              << "--priority";
    QTest::newRow("URL base") << QString() << none << QStringList{"--url-base", "updates/"} << 1
                              << "--url-base";
    QTest::newRow("mirror that is no http URL")
        << QString() << none << QStringList{"--mirror", "file:///srv/u"} << 1
        << "file:///srv/u must be";
    QTest::newRow("option taken as a path")
        << QString() << none << QStringList{"--output", "--force"} << 2 << "needs a value";
    // Legal, but likely not what the publisher meant: status 0, said once.
    QTest::newRow("world-writable")
        << "member('Kestrel', 0o100777, 'x')" << none << QStringList() << 0 << "world-writable";
    QTest::newRow("set-user-id") << "member('Kestrel', 0o104755, 'x')" << none << QStringList() << 0
                                 << "set-user-id";
    QTest::newRow("private data") << good + "\nmember('Data/sms.xml', 0o100644, 'x')" << none
                                  << QStringList() << 0 << "Data/sms.xml replaces the user's";
    // Only the updater changes its keys: installations refuse such a package.
    QTest::newRow("trusted key") << good + "\nmember('update-key.pem', 0o100644, 'x')" << none
                                 << QStringList() << 1 << "update-key.pem is the updater's own";
    QTest::newRow("toolkit settings") << good + "\nmember('qt.conf', 0o100644, 'x')" << none
                                      << QStringList() << 1 << "qt.conf is the updater's own";
    QTest::newRow("settings file") << good + "\nmember('UpdateCfg.ini', 0o100644, 'x')" << none
                                   << QStringList() << 1 << "UpdateCfg.ini is the updater's own";
    QTest::newRow("key through a link of the package")
        << good + "\nlink('d', '.')\nmember('d/trusted-keys.xml', 0o100644, 'x')" << none
        << QStringList() << 1 << "d/trusted-keys.xml reaches the updater's own";
}

void PublishTest::badReleasesNeverPass()
{
    QFETCH(QString, package);
    QFETCH(QByteArray, raw);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, word);
    describeAndSign();
    const QByteArray signedDescription = read("Description.xml");
    if (!raw.isEmpty())
        write("sw.zip", raw);
    else if (!package.isEmpty())
        writeZip("sw.zip", package);

    // Options given later replace the earlier ones of the same name.
    const Run described =
        publish(QStringList{"describe", "--version", "2.0", "--client-group", "retail",
                            "--url-base", "file:///u", "--software", "sw.zip"} +
                options);
    QCOMPARE(described.status, status);
    const QString said = described.out + described.err;
    QVERIFY2(said.contains(word), qPrintable(said));
    QCOMPARE(said.count(word), 1);
    // A refused release leaves the last one as it was; a new one drops the stale signature.
    QCOMPARE(read("Description.xml") == signedDescription, status != 0);
    QCOMPARE(QFile::exists(path("Description.xml.sig")), status != 0);
    if (package.isEmpty() && raw.isEmpty())
        return; // nothing of the package changed: lint has nothing new to find
    // The package changed under a description made for the good one: lint
    // finds what describe found, beside the digests that no longer match.
    write("Description.xml", signedDescription);
    for (const QStringList& check :
         {QStringList{"lint"}, QStringList{"verify", "--key", "keys/update-key.pem"}}) {
        const Run checked = publish(check);
        QCOMPARE(checked.status, 1);
        QVERIFY2(checked.out.contains(word), qPrintable(checked.out));
    }
}

void PublishTest::linksCountWhateverSystemMadeThem_data()
{
    QTest::addColumn<int>("system"); // the archive's "made by" system
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("link");

    QTest::newRow("Unix") << 3 << 0120777 << true;
    QTest::newRow("Atari") << 5 << 0120777 << true;
    QTest::newRow("MS-DOS") << 0 << 0120777 << true;
    QTest::newRow("VMS") << 2 << 0120777 << true;
    QTest::newRow("Macintosh") << 7 << 0120777 << true;
    QTest::newRow("NTFS") << 10 << 0120777 << true;
    QTest::newRow("Acorn") << 13 << 0120777 << true;
    QTest::newRow("MS-DOS, no mode bits") << 0 << 0 << false;
    QTest::newRow("Atari, a file") << 5 << 0100644 << false;
}

// unzip makes a link of any member whose mode bits say so, whoever made the
// archive: the check before the stop and lint both see it as one.
void PublishTest::linksCountWhateverSystemMadeThem()
{
    QFETCH(int, system);
    QFETCH(int, mode);
    QFETCH(bool, link);
    describeAndSign();
    const QString package = QString("member('Kestrel', 0o100755, 'x')\n"
                                    "member('lib/x', %1, '/etc/shadow', %2)")
                                .arg(mode)
                                .arg(system);
    writeZip("sw.zip", package);
    const QString refusal = "link lib/x leads out of the installation";

    const Run linted = publish({"lint"});
    QVERIFY2(linted.out.contains(refusal) == link, qPrintable(linted.out));
    const QString installation = path("inst");
    QVERIFY(QDir().mkpath(installation));
    QVERIFY(QFile::copy(path("sw.zip"), installation + "/sw.zip"));
    const QString checked = unpackBeforeStop(installation, "sw.zip").text;
    QCOMPARE(checked, link ? refusal : QString());
    QCOMPARE(QFileInfo::exists(unpackedPackagePath(installation)), !link);
}

void PublishTest::rolloutChangesAreIssuedAnewAndSigned_data()
{
    QTest::addColumn<QStringList>("described"); // more describe options
    QTest::addColumn<QStringList>("change");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("rollout"); // State, Critical and Steps after; empty: unchanged file

    const QStringList staged{"--rollout", "10%@0h,50%@24h,100%@72h"};
    QTest::newRow("pause") << staged << QStringList{"--pause"} << 0
                           << "paused false 10%@0h,50%@24h,100%@72h";
    QTest::newRow("critical") << staged << QStringList{"--critical"} << 0
                              << "active true 10%@0h,50%@24h,100%@72h";
    QTest::newRow("new steps") << staged << QStringList{"--steps", "1%@0h,100%@1h"} << 0
                               << "active false 1%@0h,100%@1h";
    QTest::newRow("pausing a release offered to all")
        << QStringList{} << QStringList{"--pause"} << 0 << "paused false 100%@0h";
    QTest::newRow("two changes at once")
        << staged << QStringList{"--pause", "--critical"} << 2 << QString();
    QTest::newRow("steps that fall")
        << staged << QStringList{"--steps", "50%@0h,10%@1h"} << 2 << QString();
}

void PublishTest::rolloutChangesAreIssuedAnewAndSigned()
{
    QFETCH(QStringList, described);
    QFETCH(QStringList, change);
    QFETCH(int, status);
    QFETCH(QString, rollout);
    const Run describe =
        publish(QStringList{"describe", "--version", "2.0", "--client-group", "retail",
                            "--url-base", "https://updates.example", "--software", "sw.zip"} +
                described);
    QVERIFY2(describe.status == 0, qPrintable(describe.err));
    const QByteArray before = read("Description.xml");
    const Run changed = publish(QStringList{"rollout"} + change +
                                QStringList{"Description.xml", "--key", "keys/publisher-key.pem"});
    QVERIFY2(changed.status == status, qPrintable(changed.err));
    if (rollout.isEmpty()) {
        QCOMPARE(read("Description.xml"), before);
        return;
    }
    QDomDocument doc;
    QVERIFY(doc.setContent(read("Description.xml")));
    const QDomElement header = doc.documentElement().firstChildElement();
    const QDomElement element = header.firstChildElement("Rollout");
    QCOMPARE(QStringList({element.attribute("State"), element.attribute("Critical"),
                          element.attribute("Steps")})
                 .join(' '),
             rollout);
    // Issued anew: installations take it over the one they hold.
    QVERIFY(!before.contains(header.firstChildElement("Issued").text().toLatin1()));
    QVERIFY(changed.out.contains("offered now to"));
    const Run verified = publish({"verify", "--key", "keys/update-key.pem"});
    QVERIFY2(verified.status == 0, qPrintable(verified.err + verified.out));
}

QTEST_GUILESS_MAIN(PublishTest)
#include "tst_publish.moc"
