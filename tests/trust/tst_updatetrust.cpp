// The updater's side of signed updates: what an installation holding the
// publisher's key takes, what it refuses, and that one without a key goes on
// as before.

#include "keys.h"
#include "packages/xmlparser.h"
#include "trust/descriptionbinding.h"
#include "trust/keylist.h"
#include "trust/updatetrust.h"
#include "trust/utctime.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QByteArray packageContent = "the package's bytes";

QByteArray sha256Of(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray goodSha256Attribute()
{
    return "SHA256=\"" + sha256Of(packageContent) + '"';
}

// A new version offering sw.zip; sha256Attribute is the package's whole attribute.
QByteArray newVersion(const QByteArray& issued, const QByteArray& expires,
                      const QByteArray& sha256Attribute = goodSha256Attribute())
{
    return "<UpdateDescription><Info><Version>2.0</Version><Description>d</Description>"
           "<Device>RX481</Device><ClientGroup>g</ClientGroup><ClientID>1</ClientID>"
           "<Issued>" +
           issued + "</Issued><Expires>" + expires +
           "</Expires></Info>"
           "<Packages><Package Class=\"Software Version\" Filename=\"sw.zip\" Size=\"19\" "
           "MD5=\"0\" " +
           sha256Attribute +
           " URL=\"u\">t</Package></Packages>"
           "<Servers><Server><IP>i</IP><Port>p</Port><UserName>u</UserName>"
           "<Password>w</Password></Server></Servers></UpdateDescription>";
}

QByteArray fresh(const QByteArray& issued = "2026-01-01T00:00:00Z")
{
    return newVersion(issued, "2099-01-01T00:00:00Z");
}

} // namespace

class UpdateTrustTest final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void acceptsOnlyWhatTheKeySigned_data();
    void acceptsOnlyWhatTheKeySigned();
    void refusesAnOlderDescriptionThanAccepted();
    void bindsTheDescriptionToThisInstallation_data();
    void bindsTheDescriptionToThisInstallation();
    void usesTheBytesItVerified();
    void onlyAnEd25519KeyCounts_data();
    void onlyAnEd25519KeyCounts();
    void withoutAKeyEverythingPassesAsBefore();
    void aPackagedInstallationWithoutKeysRefuses();
    void takesOnlyANewerKeyListATrustedKeySigned_data();
    void takesOnlyANewerKeyListATrustedKeySigned();
    void packagesMustMatchTheirDigest_data();
    void packagesMustMatchTheirDigest();
    void opensslSignaturesVerify();
    void utcTimes_data();
    void utcTimes();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    void write(const QString& name, const QByteArray& content) const;
    void publish(const QByteArray& description, const QString& signer = "keys") const;
    bool check(Reason* reason = nullptr) const;
    QByteArray keyList(int version, const QStringList& pairs) const;
    QByteArray signedBy(const QString& pair, const QByteArray& data) const;
    qint64 installedListVersion() const;

    std::unique_ptr<QTemporaryDir> dir;
};

void UpdateTrustTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QString error;
    QVERIFY2(generateKeyPair(path("keys"), error), qPrintable(error));
    QVERIFY2(generateKeyPair(path("other"), error), qPrintable(error));
    QVERIFY(QFile::copy(path("keys/update-key.pem"), path("update-key.pem")));
    write("sw.zip", packageContent);
}

void UpdateTrustTest::write(const QString& name, const QByteArray& content) const
{
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// The description and its signature as the agent leaves them.
void UpdateTrustTest::publish(const QByteArray& description, const QString& signer) const
{
    write("Description.xml", description);
    QFile::remove(path("Description.xml.sig"));
    QByteArray signature;
    QString error;
    if (!signer.isEmpty()) {
        QVERIFY(signWithKey(path(signer + "/publisher-key.pem"), description, signature, error));
        write("Description.xml.sig", signature);
    }
}

bool UpdateTrustTest::check(Reason* reason) const
{
    XmlParser parser;
    parser.setFile(path("Description.xml"));
    parser.get();
    return acceptDescription(dir->path(), parser, InstallationIdentity{"g", "1.0", "1.0"}, nullptr,
                             reason);
}

void UpdateTrustTest::acceptsOnlyWhatTheKeySigned_data()
{
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<QString>("signer");
    QTest::addColumn<QByteArray>("afterSigning"); // replaces the description, or empty
    QTest::addColumn<int>("signatureBytes");
    QTest::addColumn<QString>("refusal"); // empty: accepted

    const QByteArray flag = "<D><Flag>1</Flag></D>";
    QTest::newRow("signed new version") << fresh() << "keys" << QByteArray() << 64 << "";
    QTest::newRow("signed status answer") << flag << "keys" << QByteArray() << 64 << "";
    QTest::newRow("unsigned status answer") << flag << "" << QByteArray() << 0 << "no signature";
    QTest::newRow("no signature") << fresh() << "" << QByteArray() << 0 << "no signature";
    QTest::newRow("truncated signature")
        << fresh() << "keys" << QByteArray() << 63 << "bad signature";
    QTest::newRow("another key") << fresh() << "other" << QByteArray() << 64 << "bad signature";
    QTest::newRow("edited after signing")
        << fresh() << "keys" << fresh().replace("2.0", "6.6") << 64 << "bad signature";
    QTest::newRow("expired") << newVersion("2020-01-01T00:00:00Z", "2020-02-01T00:00:00Z") << "keys"
                             << QByteArray() << 64 << "expired at 2020-02-01T00:00:00Z";
    QTest::newRow("no Issued") << QByteArray(fresh()).replace("Issued>", "Issue>") << "keys"
                               << QByteArray() << 64 << "malformed time: no valid Issued";
    QTest::newRow("local time") << newVersion("2026-01-01T00:00:00+01:00", "2099-01-01T00:00:00Z")
                                << "keys" << QByteArray() << 64 << "malformed time";
    QTest::newRow("issued after expiry")
        << newVersion("2099-06-01T00:00:00Z", "2099-01-01T00:00:00Z") << "keys" << QByteArray()
        << 64 << "malformed time: Issued after Expires";
}

void UpdateTrustTest::acceptsOnlyWhatTheKeySigned()
{
    QFETCH(QByteArray, description);
    QFETCH(QString, signer);
    QFETCH(QByteArray, afterSigning);
    QFETCH(int, signatureBytes);
    QFETCH(QString, refusal);
    publish(description, signer);
    if (!afterSigning.isEmpty())
        write("Description.xml", afterSigning);
    if (signatureBytes > 0 && signatureBytes < 64)
        QVERIFY(QFile::resize(path("Description.xml.sig"), signatureBytes));
    if (!refusal.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^description refused: " +
                                                              QRegularExpression::escape(refusal)));
    QCOMPARE(check(), refusal.isEmpty());
    // Only a passed new version is remembered.
    const bool remembered = refusal.isEmpty() && description.contains("<Issued>");
    QCOMPARE(QFile::exists(path("update-issued")), remembered);
}

void UpdateTrustTest::refusesAnOlderDescriptionThanAccepted()
{
    publish(fresh("2026-06-01T00:00:00Z"));
    QVERIFY(check());
    publish(fresh("2026-05-31T23:59:59Z"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^description refused: replayed"));
    QVERIFY(!check());
    QFile state(path("update-issued"));
    QVERIFY(state.open(QIODevice::ReadOnly));
    QCOMPARE(state.readAll(), QByteArray("2026-06-01T00:00:00Z\n"));
    publish(fresh("2026-06-01T00:00:00Z")); // the same one again, after a cancelled run
    QVERIFY(check());
    write("update-issued", "garbage");
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression("^description refused: malformed time in .*update-issued"));
    QVERIFY(!check());
}

void UpdateTrustTest::bindsTheDescriptionToThisInstallation_data()
{
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    QTest::addColumn<bool>("offered");    // the software package, when accepted

    const auto withVersion = [](const QByteArray& version) {
        return fresh().replace("URL=\"u\"", "Version=\"" + version + "\" URL=\"u\"");
    };
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto issuedIn = [&now](qint64 seconds) {
        return newVersion(now.addSecs(seconds).toString(Qt::ISODate).toLatin1(),
                          now.addDays(30).toString(Qt::ISODate).toLatin1());
    };
    QTest::newRow("another client group") << fresh().replace("<ClientGroup>g<", "<ClientGroup>h<")
                                          << "for client group h, not g" << false;
    QTest::newRow("issued two days ahead")
        << issuedIn(2 * 86400) << "issued in the future" << false;
    QTest::newRow("issued within the day ahead") << issuedIn(12 * 3600) << "" << true;
    QTest::newRow("older version") << withVersion("0.9") << "" << false;
    QTest::newRow("same version") << withVersion("1.9.0") << "" << false;
    QTest::newRow("later by number, not by text") << withVersion("1.10") << "" << true;
    QTest::newRow("other prefix: differs") << withVersion("V0.1") << "" << true;
}

void UpdateTrustTest::bindsTheDescriptionToThisInstallation()
{
    QFETCH(QByteArray, description);
    QFETCH(QString, refusal);
    QFETCH(bool, offered);
    publish(description);
    XmlParser parser;
    parser.setFile(path("Description.xml"));
    parser.get();
    if (!refusal.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^description refused: " + refusal));
    else if (!offered)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^package not offered: version"));

    QCOMPARE(acceptDescription(dir->path(), parser, InstallationIdentity{"g", "1.9", "F1"}),
             refusal.isEmpty());

    // Only a description that passed everything is remembered.
    QCOMPARE(QFile::exists(path("update-issued")), refusal.isEmpty());
    if (refusal.isEmpty()) {
        QCOMPARE(!parser.software.filename.isEmpty(), offered);
        QCOMPARE(parser.flag == "1", !offered); // nothing left: no new version
    }
}

// The file may change between the parse and the check: the check is over the
// bytes that were parsed, and the package's digest over the file that stays.
void UpdateTrustTest::usesTheBytesItVerified()
{
    write("Description.xml", fresh().replace("sw.zip", "evil.zip"));
    XmlParser parser;
    parser.setFile(path("Description.xml"));
    parser.get();
    publish(fresh());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^description refused: bad signature"));
    QVERIFY(!acceptDescription(dir->path(), parser, InstallationIdentity{"g", "1.0", "F1"}));

    parser.setFile(path("Description.xml"));
    parser.get();
    QVERIFY(acceptDescription(dir->path(), parser, InstallationIdentity{"g", "1.0", "F1"}));
    QFile writer(path("sw.zip")); // opened before the check, written after it
    QVERIFY(writer.open(QIODevice::ReadWrite));
    QVERIFY(acceptPackages(dir->path(), parser, SELECTED_SOFTWARE));
    writer.write("rewritten");
    writer.close();
    QFile package(path("sw.zip"));
    QVERIFY(package.open(QIODevice::ReadOnly));
    QCOMPARE(package.readAll(), packageContent);
}

void UpdateTrustTest::onlyAnEd25519KeyCounts_data()
{
    QTest::addColumn<QStringList>("makeKey"); // openssl arguments writing update-key.pem

    QTest::newRow("RSA") << QStringList{"genpkey", "-algorithm", "RSA", "-out", "update-key.pem"};
    QTest::newRow("the private key")
        << QStringList{"pkey", "-in", "keys/publisher-key.pem", "-out", "update-key.pem"};
    QTest::newRow("garbage") << QStringList{"rand", "-out", "update-key.pem", "113"};
}

// An installation whose key cannot be used takes nothing, whatever is signed.
void UpdateTrustTest::onlyAnEd25519KeyCounts()
{
    QFETCH(QStringList, makeKey);
    QProcess openssl;
    openssl.setWorkingDirectory(dir->path());
    QVERIFY(QFile::remove(path("update-key.pem")));
    openssl.start("openssl", makeKey);
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);
    publish(fresh());
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^description refused: unreadable key .*update-key.pem$"));
    QVERIFY(!check());
}

void UpdateTrustTest::withoutAKeyEverythingPassesAsBefore()
{
    QTest::failOnWarning(QRegularExpression("not verified"));
    warnWhenUnverified(dir->path());
    QVERIFY(QFile::remove(path("update-key.pem")));
    publish(newVersion("", "", ""), "");
    QVERIFY(check());
    XmlParser parser;
    parser.setFile(path("Description.xml"));
    parser.get();
    QVERIFY(acceptPackages(dir->path(), parser, SELECTED_SOFTWARE));
    QVERIFY(QFile::exists(path("sw.zip")));
    QVERIFY(!QFile::exists(path("update-issued")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^updates are not verified: no .*"
                                                          "update-key.pem"));
    warnWhenUnverified(dir->path());
}

// Installed from a package but given no key: nothing is taken, signed or not.
void UpdateTrustTest::aPackagedInstallationWithoutKeysRefuses()
{
    QVERIFY(QFile::remove(path("update-key.pem")));
    write("signed-updates-only", "");
    QTest::failOnWarning(QRegularExpression("not verified"));
    warnWhenUnverified(dir->path());
    for (const char* signer : {"", "keys"}) {
        publish(fresh(), signer);
        QTest::ignoreMessage(QtWarningMsg, "no update key installed: updates are refused");
        // The check records the reason in the history.
        Reason reason = Reason::None;
        QVERIFY(!check(&reason));
        QCOMPARE(reason, Reason::NoUpdateKey);
    }
}

QByteArray UpdateTrustTest::keyList(int version, const QStringList& pairs) const
{
    std::vector<TrustedKey> keys;
    for (const QString& pair : pairs)
        keys.push_back(std::move(singleKeyList(path(pair + "/update-key.pem"))->keys.front()));
    return keyListXml(version, keys);
}

QByteArray UpdateTrustTest::signedBy(const QString& pair, const QByteArray& data) const
{
    QByteArray signature;
    QString error;
    signWithKey(path(pair + "/publisher-key.pem"), data, signature, error);
    return signature;
}

qint64 UpdateTrustTest::installedListVersion() const
{
    QFile file(path("trusted-keys.xml"));
    QString error;
    const std::optional<KeyList> list =
        file.open(QIODevice::ReadOnly) ? parseKeyList(file.readAll(), error) : std::nullopt;
    return list ? list->version : 0;
}

void UpdateTrustTest::takesOnlyANewerKeyListATrustedKeySigned_data()
{
    // "keys" is the key installed as update-key.pem; "other" another key pair.
    QTest::addColumn<int>("installedVersion"); // of trusted-keys.xml; 0: none
    QTest::addColumn<QStringList>("installedKeys");
    QTest::addColumn<int>("publishedVersion"); // of Keys.xml; 0: none published
    QTest::addColumn<QStringList>("publishedKeys");
    QTest::addColumn<QString>("listSigner");     // empty: no Keys.xml.sig
    QTest::addColumn<QByteArray>("replacement"); // signed instead of the list, when not empty
    QTest::addColumn<QString>("line");           // the key list's warning; empty: none
    QTest::addColumn<int>("versionAfter");
    QTest::addColumn<QString>("descriptionSigner");
    QTest::addColumn<bool>("accepted");

    const QStringList none;
    const QStringList installed{"keys"};
    const QStringList other{"other"};
    QTest::newRow("newer, signed by the installed key")
        << 0 << none << 2 << other << "keys" << QByteArray()
        << "^key list 2 taken: keys [0-9a-f]{16}$" << 2 << "other" << true;
    QTest::newRow("newer, withdrawing the key that signed it")
        << 0 << none << 2 << other << "keys" << QByteArray() << "^key list 2 taken" << 2 << "keys"
        << false;
    QTest::newRow("equal version")
        << 2 << installed << 2 << other << "keys" << QByteArray()
        << "^key list ignored: version 2 is not newer than 2$" << 2 << "other" << false;
    QTest::newRow("lower version")
        << 3 << installed << 2 << other << "keys" << QByteArray()
        << "^key list ignored: version 2 is not newer than 3$" << 3 << "keys" << true;
    QTest::newRow("unsigned") << 0 << none << 2 << other << "" << QByteArray()
                              << "^key list ignored: no signature$" << 0 << "other" << false;
    QTest::newRow("signed by an untrusted key")
        << 0 << none << 2 << other << "other" << QByteArray()
        << "^key list ignored: signed by no trusted key$" << 0 << "keys" << true;
    QTest::newRow("signed by a withdrawn key")
        << 2 << other << 3 << installed << "keys" << QByteArray()
        << "^key list ignored: signed by no trusted key$" << 2 << "keys" << false;
    QTest::newRow("malformed: no key")
        << 0 << none << 2 << other << "keys" << QByteArray("<KeyList Version=\"2\"/>")
        << "^key list ignored: malformed: it lists no key$" << 0 << "keys" << true;
    QTest::newRow("malformed: an id that is not the key's")
        << 0 << none << 2 << other << "keys"
        << QByteArray("<KeyList Version=\"2\"><Key Id=\"0000000000000000\" Ed25519=\"" +
                      QByteArray(64, 'a') + "\"/></KeyList>")
        << "^key list ignored: malformed: (key|a Key)" << 0 << "keys" << true;
    QTest::newRow("malformed: version zero")
        << 0 << none << 2 << other << "keys" << QByteArray("<KeyList Version=\"0\"/>")
        << "^key list ignored: malformed: no <KeyList> with a Version" << 0 << "keys" << true;
    QTest::newRow("none published")
        << 0 << none << 0 << none << "" << QByteArray() << "" << 0 << "keys" << true;
}

// The installation's keys change only by a newer list that a key it trusts
// signed; the description is then verified against the keys held.
void UpdateTrustTest::takesOnlyANewerKeyListATrustedKeySigned()
{
    QFETCH(int, installedVersion);
    QFETCH(QStringList, installedKeys);
    QFETCH(int, publishedVersion);
    QFETCH(QStringList, publishedKeys);
    QFETCH(QString, listSigner);
    QFETCH(QByteArray, replacement);
    QFETCH(QString, line);
    QFETCH(int, versionAfter);
    QFETCH(QString, descriptionSigner);
    QFETCH(bool, accepted);
    if (installedVersion > 0) {
        write("trusted-keys.xml", keyList(installedVersion, installedKeys));
        QVERIFY(QFile::setPermissions(path("trusted-keys.xml"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    }
    if (publishedVersion > 0) {
        const QByteArray list =
            replacement.isEmpty() ? keyList(publishedVersion, publishedKeys) : replacement;
        write("Keys.xml", list);
        if (!listSigner.isEmpty())
            write("Keys.xml.sig", signedBy(listSigner, list));
    }
    publish(fresh(), descriptionSigner);
    if (!line.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(line));
    if (!accepted)
        QTest::ignoreMessage(QtWarningMsg, "description refused: bad signature");

    QCOMPARE(check(), accepted);
    QCOMPARE(installedListVersion(), versionAfter);
    QVERIFY(!QFile::exists(path("Keys.xml")) && !QFile::exists(path("Keys.xml.sig")));
    struct stat info {};
    if (versionAfter > installedVersion) {
        QCOMPARE(::stat(QFile::encodeName(path("trusted-keys.xml")).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0644));
    }
}

void UpdateTrustTest::packagesMustMatchTheirDigest_data()
{
    QTest::addColumn<QByteArray>("sha256Attribute");
    QTest::addColumn<int>("module");
    QTest::addColumn<QString>("refusal"); // empty: accepted

    const QByteArray good = goodSha256Attribute();
    QTest::newRow("matching") << good << int(SELECTED_SOFTWARE) << "";
    QTest::newRow("matching, both chosen, one offered") << good << int(SELECTED_BOTH) << "";
    QTest::newRow("mismatch") << "SHA256=\"" + sha256Of("other bytes") + '"'
                              << int(SELECTED_SOFTWARE) << "sw.zip: SHA256 mismatch";
    QTest::newRow("no SHA256") << QByteArray() << int(SELECTED_SOFTWARE) << "sw.zip: no SHA256";
    QTest::newRow("upper case") << good.toUpper() << int(SELECTED_SOFTWARE)
                                << "sw.zip: malformed SHA256";
    QTest::newRow("firmware chosen, not offered") << QByteArray() << int(SELECTED_FIRMWARE) << "";
}

void UpdateTrustTest::packagesMustMatchTheirDigest()
{
    QFETCH(QByteArray, sha256Attribute);
    QFETCH(int, module);
    QFETCH(QString, refusal);
    publish(newVersion("2026-01-01T00:00:00Z", "2099-01-01T00:00:00Z", sha256Attribute));
    XmlParser parser;
    parser.setFile(path("Description.xml"));
    parser.get();
    if (!refusal.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, qPrintable("package refused: " + refusal));
    QCOMPARE(acceptPackages(dir->path(), parser, SelectedModule(module)), refusal.isEmpty());
    // A refused download is not kept for a later run.
    QCOMPARE(QFile::exists(path("sw.zip")), refusal.isEmpty());
}

void UpdateTrustTest::opensslSignaturesVerify()
{
    write("Description.xml", fresh());
    QProcess openssl;
    openssl.start("openssl",
                  {"pkeyutl", "-sign", "-rawin", "-inkey", path("keys/publisher-key.pem"), "-in",
                   path("Description.xml"), "-out", path("Description.xml.sig")});
    QVERIFY(openssl.waitForFinished());
    QCOMPARE(openssl.exitCode(), 0);
    QVERIFY(check());
}

void UpdateTrustTest::utcTimes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("seconds"); // -1: refused

    QTest::newRow("epoch") << "1970-01-01T00:00:00Z" << qint64(0);
    QTest::newRow("example") << "2026-12-08T10:00:00Z" << qint64(1796724000);
    QTest::newRow("leap day") << "2028-02-29T23:59:59Z" << qint64(1835481599);
    QTest::newRow("no such day") << "2026-02-30T00:00:00Z" << qint64(-1);
    QTest::newRow("hour 24") << "2026-12-08T24:00:00Z" << qint64(-1);
    QTest::newRow("no zone") << "2026-12-08T10:00:00" << qint64(-1);
    QTest::newRow("offset") << "2026-12-08T10:00:00+00:00" << qint64(-1);
    QTest::newRow("blank") << "2026-12-08 10:00:00Z" << qint64(-1);
    QTest::newRow("padded") << " 2026-12-08T10:00:00Z" << qint64(-1);
    QTest::newRow("fraction") << "2026-12-08T10:00:00.5Z" << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
}

void UpdateTrustTest::utcTimes()
{
    QFETCH(QString, text);
    QFETCH(qint64, seconds);
    const std::optional<qint64> parsed = parseUtcTime(text);
    QCOMPARE(parsed.value_or(-1), seconds);
    if (parsed)
        QCOMPARE(formatUtcTime(*parsed), text);
}

QTEST_GUILESS_MAIN(UpdateTrustTest)
#include "tst_updatetrust.moc"
