#include "app/globals.h"
#include "check.h"
#include "delta/deltafile.h"
#include "delta/deltamaker.h"
#include "delta/deltaoffer.h"
#include "delta/deltarebuild.h"
#include "delta/packagetree.h"
#include "describe.h"
#include "packages/xmlparser.h"
#include "software/testsupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <zstd.h>

using Outcome = RebuildResult::Outcome;

namespace {

QByteArray program(char variant)
{
    QRandomGenerator random(7);
    QByteArray bytes(200000, '\0');
    for (char& byte : bytes)
        byte = char(random.bounded(256));
    bytes.replace(100000, 8, QByteArray(8, variant));
    return bytes;
}

void writeOldTree(const QString& root)
{
    writeTree(root, {{"/bin/Kestrel", program('1')},
                     {"/Data/contact.xml", "<contacts/>"},
                     {"/gone.txt", "only in 1.0"}});
    QFile::link("bin/Kestrel", root + "/current");
}

void writeNewTree(const QString& root)
{
    writeTree(root, {{"/bin/Kestrel", program('2')},
                     {"/Data/contact.xml", "<contacts/>"},
                     {"/sub/new.txt", "new in 2.0"}});
    QFile::setPermissions(root + "/bin/Kestrel",
                          QFile::permissions(root + "/bin/Kestrel") | QFileDevice::ExeOwner);
    QFile::link("bin/Kestrel", root + "/current");
}

// The full package these trees stand for: a rebuild may write 4 times as much.
constexpr qint64 packageSize = 256 * 1024;

DeltaExpectation expectationOf(const QByteArray& bytes)
{
    return {QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
            manifestDigest(bytes), packageSize};
}

qint64 treeBytes(const QString& root)
{
    qint64 total = 0;
    for (const QByteArray& content : snapshot(root))
        total += content.size();
    return total;
}

QByteArray frame(const QByteArray& content)
{
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(content.size()))), '\0');
    out.truncate(qsizetype(ZSTD_compress(out.data(), size_t(out.size()), content.constData(),
                                         size_t(content.size()), 3)));
    return out;
}

// A delta for the base tree with one file made from frameBytes, plus extras.
QByteArray craftedDelta(const QString& baseRoot, const QByteArray& path,
                        const QByteArray& frameBytes, const QByteArray& content,
                        const QList<DeltaEntry>& extras = {})
{
    DeltaManifest manifest{treeDigest(*listPackageTree(baseRoot)), extras};
    DeltaEntry file =
        DeltaEntry::file(DeltaEntry::Kind::Full, path, 0644, content.size(),
                         QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    file.length = frameBytes.size();
    manifest.entries.prepend(file);
    return deltaFileBytes(formatManifest(manifest), frameBytes);
}

// A frame that asks for a 1 GiB window: no content size, window descriptor
// 2^30, then one empty last raw block.
QByteArray memoryBomb()
{
    return QByteArray::fromHex("28b52ffd"
                               "00"
                               "a0"
                               "010000");
}

} // namespace

class DeltaTest : public QObject {
    Q_OBJECT

private slots:
    void rebuildsTheNewTreeExactly();
    void badDeltasAreRefusedOrFallBack_data();
    void badDeltasAreRefusedOrFallBack();
    void publishedDescriptionReadsAsBefore();

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

void DeltaTest::rebuildsTheNewTreeExactly()
{
    writeOldTree(path("old"));
    writeNewTree(path("new"));
    // A publisher's world-writable file is not one in the installation.
    const QFileDevice::Permissions readable =
        QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(path("new/sub/new.txt"), readable | QFileDevice::WriteOwner |
                                                               QFileDevice::WriteGroup |
                                                               QFileDevice::WriteOther));
    QString error;
    const std::optional<QByteArray> delta = makeDelta(path("old"), path("new"), error);
    QVERIFY2(delta, qPrintable(error));
    QVERIFY2(delta->size() < 2000, QByteArray::number(delta->size())); // a patch, not a copy
    writeFile(path("rt.delta"), *delta);

    const RebuildResult result =
        rebuildFromDelta(path("rt.delta"), expectationOf(*delta), path("old"), path("rebuilt"));
    QVERIFY2(result.outcome == Outcome::Rebuilt, qPrintable(result.reason));
    QCOMPARE(snapshot(path("rebuilt")), snapshot(path("new")));
    QVERIFY(QFileInfo(path("rebuilt/bin/Kestrel")).isExecutable());
    QVERIFY(!QFileInfo(path("rebuilt/Data/contact.xml")).isExecutable());
    QCOMPARE(QFile::permissions(path("rebuilt/sub/new.txt")) &
                 ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
             readable | QFileDevice::WriteOwner);
}

void DeltaTest::badDeltasAreRefusedOrFallBack_data()
{
    QTest::addColumn<QByteArray>("delta");
    QTest::addColumn<QByteArray>("baseChange"); // new content of the base's bin/Kestrel
    QTest::addColumn<bool>("expectedFromOriginal");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("reason");

    const QString base = path("base");
    writeOldTree(base);
    writeNewTree(path("next"));
    QString error;
    const QByteArray good = *makeDelta(base, path("next"), error);
    QByteArray corrupt = good;
    corrupt[corrupt.size() - 10] = char(corrupt[corrupt.size() - 10] ^ 1);
    const QByteArray text = "escaped";
    const DeltaEntry link = DeltaEntry::link("d", "/tmp");

    QTest::newRow("corrupt") << corrupt << QByteArray() << true << int(Outcome::Refused)
                             << "SHA256 mismatch";
    QTest::newRow("wrong base") << good << QByteArray("changed by hand") << false
                                << int(Outcome::BaseMismatch) << "installed base";
    QTest::newRow("name leaving") << craftedDelta(base, "../escaped", frame(text), text)
                                  << QByteArray() << false << int(Outcome::Refused) << "unsafe";
    QTest::newRow("absolute name") << craftedDelta(base, "/tmp/escaped", frame(text), text)
                                   << QByteArray() << false << int(Outcome::Refused) << "unsafe";
    QTest::newRow("file below a link")
        << craftedDelta(base, "d/escaped", frame(text), text, {link}) << QByteArray() << false
        << int(Outcome::Refused) << "unsafe";
    QTest::newRow("memory bomb") << craftedDelta(base, "big", memoryBomb(), QByteArray())
                                 << QByteArray() << false << int(Outcome::Refused) << "memory";
    // A few bytes of frame that would make more than 4 times the package.
    const QByteArray zeros(4 * packageSize + 1, '\0');
    QTest::newRow("writes past the package")
        << craftedDelta(base, "zeros", frame(zeros), zeros) << QByteArray() << false
        << int(Outcome::Refused) << "may write";
    QTest::newRow("link target with a control character")
        << craftedDelta(base, "x", frame(text), text, {DeltaEntry::link("d", "a\x1b[2Jb")})
        << QByteArray() << false << int(Outcome::Refused) << "unsafe";
    QTest::newRow("made file differs")
        << craftedDelta(base, "x", frame(text), "escapee") << QByteArray() << false
        << int(Outcome::BaseMismatch) << "SHA256";
}

void DeltaTest::badDeltasAreRefusedOrFallBack()
{
    QFETCH(QByteArray, delta);
    QFETCH(QByteArray, baseChange);
    QFETCH(bool, expectedFromOriginal);
    QFETCH(int, outcome);
    QFETCH(QString, reason);
    QTemporaryDir run;
    const QString base = run.filePath("base");
    writeOldTree(base);
    if (!baseChange.isEmpty())
        writeFile(base + "/bin/Kestrel", baseChange);
    writeFile(run.filePath("bad.delta"), delta);
    QByteArray expectedBytes = delta;
    if (expectedFromOriginal) // the description's digests are the undamaged file's
        expectedBytes[expectedBytes.size() - 10] =
            char(expectedBytes[expectedBytes.size() - 10] ^ 1);

    const RebuildResult result = rebuildFromDelta(
        run.filePath("bad.delta"), expectationOf(expectedBytes), base, run.filePath("out"));
    QCOMPARE(int(result.outcome), outcome);
    QVERIFY2(result.reason.contains(reason), qPrintable(result.reason));
    QVERIFY(!QFileInfo::exists(run.filePath("escaped")));
    QVERIFY(!QFileInfo::exists("/tmp/escaped"));
    QVERIFY(treeBytes(run.filePath("out")) <= 4 * packageSize);
}

void DeltaTest::publishedDescriptionReadsAsBefore()
{
    writeOldTree(path("pub-old"));
    writeNewTree(path("pub-new"));
    QVERIFY(makeZip(path("pub-old"), path("Kestrel-1.0.zip")));
    QVERIFY(makeZip(path("pub-new"), path("Kestrel-2.0.zip")));
    // Issued now, so that lint finds it within its time.
    const QString issued = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const QStringList common = {"--version",      "2.0",
                                "--client-group", "retail",
                                "--issued",       issued,
                                "--expires-in",   "90",
                                "--url-base",     "https://u.example/k",
                                "--software",     path("Kestrel-2.0.zip"),
                                "--text",         "Faster"};
    QCOMPARE(describeCommand(QStringList{"--output", path("plain.xml")} + common), 0);
    QCOMPARE(describeCommand(QStringList{"--output", path("Description.xml")} + common +
                             QStringList{"--delta-from", path("Kestrel-1.0.zip")}),
             0);

    // An older updater reads every field of the description with deltas as before.
    const auto read = [this](const QString& name, XmlParser& parser) {
        QFile::remove(path("read/Description.xml"));
        QDir().mkpath(path("read"));
        QVERIFY(QFile::copy(path(name), path("read/Description.xml")));
        BASE_PATH = path("read");
        parser.setFile(QString());
        QVERIFY(parser.get());
    };
    XmlParser plain;
    XmlParser withDelta;
    read("plain.xml", plain);
    read("Description.xml", withDelta);
    QCOMPARE(withDelta.software.text, plain.software.text);
    QCOMPARE(withDelta.software.filename, plain.software.filename);
    QCOMPARE(withDelta.software.size, plain.software.size);
    QCOMPARE(withDelta.packageCount, plain.packageCount);
    QCOMPARE(withDelta.ftpIp, plain.ftpIp);

    const QList<DeltaOffer> offers = deltaOffers(withDelta.doc, "Software Version");
    QCOMPARE(offers.size(), 1);
    QCOMPARE(offerProblem(offers[0]), QString());
    QCOMPARE(offers[0].url, "https://u.example/k/" + offers[0].filename);
    QCOMPARE(lintCommand({path("Description.xml")}), 0);
    writeFile(path(offers[0].filename), "not the delta");
    QCOMPARE(lintCommand({path("Description.xml")}), 1);
}

QTEST_GUILESS_MAIN(DeltaTest)
#include "tst_delta.moc"
