#include "check.h"
#include "delta/deltafile.h"
#include "delta/deltamaker.h"
#include "delta/deltaoffer.h"
#include "delta/deltarebuild.h"
#include "delta/packagetree.h"
#include "delta/softwaredownload.h"
#include "delta/suffixdiff.h"
#include "delta/suffixpatch.h"
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

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <limits>

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
                        const QList<DeltaEntry>& extras = {},
                        DeltaEntry::Kind kind = DeltaEntry::Kind::Full)
{
    DeltaManifest manifest{treeDigest(*listPackageTree(baseRoot)), extras};
    DeltaEntry file =
        DeltaEntry::file(kind, path, 0644, content.size(),
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

QByteArray leb128(std::initializer_list<quint64> numbers)
{
    QByteArray out;
    for (quint64 value : numbers) {
        for (; value >= 0x80; value >>= 7)
            out += char(0x80 | (value & 0x7f));
        out += char(value);
    }
    return out;
}

// A difference against the base's bin/Kestrel, from its three streams as given.
QByteArray craftedDiff(const QString& baseRoot, const QByteArray& control,
                       const QByteArray& difference, const QByteArray& extra, qint64 size)
{
    return craftedDelta(baseRoot, "bin/Kestrel", frame(control) + frame(difference) + frame(extra),
                        QByteArray(size, 'x'), {}, DeltaEntry::Kind::Diff);
}

// Code-like bytes: instructions with a call and its 32-bit displacement every
// 16 bytes; inserting a stretch moves every call that crosses it.
QByteArray code(qsizetype length, qsizetype insertAt, qsizetype inserted)
{
    QRandomGenerator random(11);
    QByteArray bytes;
    for (qsizetype at = 0; bytes.size() < length; at += 16) {
        QByteArray instruction(16, '\0');
        for (char& byte : instruction)
            byte = char(random.bounded(8));
        const qint32 target = qint32(random.bounded(int(length))) - qint32(at);
        const qint32 moved = target + ((at < insertAt) == (at + target < insertAt)
                                           ? 0
                                           : (at < insertAt ? 1 : -1) * qint32(inserted));
        instruction[10] = char(0xe8);
        std::memcpy(instruction.data() + 11, &moved, 4);
        if (at == insertAt)
            bytes += QByteArray(inserted, char(0x90));
        bytes += instruction;
    }
    return bytes;
}

QByteArray randomBytes(qsizetype length, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(length, '\0');
    for (char& byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// What zstd's patch mode makes of the same pair: the difference must beat it
// where only addresses moved.
qsizetype zstdPatchSize(const QByteArray& old, const QByteArray& updated)
{
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 19);
    ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1);
    ZSTD_CCtx_refPrefix(context, old.constData(), size_t(old.size()));
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(updated.size()))), '\0');
    const size_t size = ZSTD_compress2(context, out.data(), size_t(out.size()), updated.constData(),
                                       size_t(updated.size()));
    ZSTD_freeCCtx(context);
    return qsizetype(size);
}

} // namespace

class DeltaTest : public QObject {
    Q_OBJECT

private slots:
    void rebuildsTheNewTreeExactly();
    void badDeltasAreRefusedOrFallBack_data();
    void badDeltasAreRefusedOrFallBack();
    void publishedDescriptionReadsAsBefore();
    void suffixDifferenceRoundTrips_data();
    void suffixDifferenceRoundTrips();
    void takesTheSmallestDeltaForTheKeptTree_data();
    void takesTheSmallestDeltaForTheKeptTree();

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

    // However large the declared Size, the bound does not wrap: the disk sets it then.
    DeltaExpectation huge = expectationOf(*delta);
    huge.packageSize = std::numeric_limits<qint64>::max();
    QCOMPARE(rebuildFromDelta(path("rt.delta"), huge, path("old"), path("huge")).outcome,
             Outcome::Rebuilt);
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
    const QByteArray one = leb128({0});
    QTest::newRow("diff past the base")
        << craftedDiff(base, leb128({0, 200001, 0, 0}), one + QByteArray(1, '\1'), {}, 200001)
        << QByteArray() << false << int(Outcome::Refused) << "leaves the file or the base";
    QTest::newRow("diff past its size")
        << craftedDiff(base, leb128({0, 0, 10, 0}), {}, QByteArray(10, 'x'), 5) << QByteArray()
        << false << int(Outcome::Refused) << "leaves the file or the base";
    QTest::newRow("diff moves before the base")
        << craftedDiff(base, leb128({0, 0, 1, 9, 1, 0, 0}), one + "x", "x", 2) << QByteArray()
        << false << int(Outcome::Refused) << "move leaves the base";
    QTest::newRow("diff makes nothing")
        << craftedDiff(base, leb128({0, 0, 0, 2, 0, 0, 2}), {}, {}, 1) << QByteArray() << false
        << int(Outcome::Refused) << "leaves the file or the base";
    QTest::newRow("diff starts past the base")
        << craftedDiff(base, leb128({200001, 0, 1, 0}), {}, "x", 1) << QByteArray() << false
        << int(Outcome::Refused) << "starts outside the base";
    QTest::newRow("diff with a stream left over")
        << craftedDiff(base, leb128({0, 0, 1, 0}), {}, "xy", 1) << QByteArray() << false
        << int(Outcome::Refused) << "more than the file";
    QTest::newRow("diff with an endless zero run")
        << craftedDiff(base, leb128({0, 1, 0, 0}), leb128({quint64(1) << 62}) + "x", {}, 1)
        << QByteArray() << false << int(Outcome::Refused) << "more than the file";
    QTest::newRow("diff stream asks for memory")
        << craftedDelta(base, "bin/Kestrel", memoryBomb() + frame({}) + frame({}), "x", {},
                        DeltaEntry::Kind::Diff)
        << QByteArray() << false << int(Outcome::Refused) << "control stream";
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
        parser.setFile(path("read/Description.xml"));
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

void DeltaTest::suffixDifferenceRoundTrips_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("updated");
    QTest::addColumn<bool>("beatsZstd");

    const QByteArray program = code(300000, 150000, 0);
    const QByteArray random = randomBytes(100000, 3);
    QByteArray zeros(4 * 1024 * 1024, '\0');
    QByteArray zerosChanged = zeros;
    zerosChanged[2 * 1024 * 1024] = 'x';
    QTest::newRow("empty") << QByteArray() << QByteArray() << false;
    QTest::newRow("from nothing") << QByteArray() << random << false;
    QTest::newRow("to nothing") << random << QByteArray() << false;
    QTest::newRow("equal") << program << program << false;
    QTest::newRow("grown") << random << random + randomBytes(5000, 4) << false;
    QTest::newRow("shrunk") << random << random.left(60000) + random.mid(70000) << false;
    QTest::newRow("shifted code") << program << code(300000, 150000, 37) << true;
    QTest::newRow("blocks swapped") << random << random.mid(50000) + random.left(50000) << false;
    QTest::newRow("unrelated") << random << randomBytes(90000, 5) << false;
    QTest::newRow("long zero runs") << zeros << zerosChanged << false;
}

void DeltaTest::suffixDifferenceRoundTrips()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, updated);
    QFETCH(bool, beatsZstd);

    const QByteArray payload = suffixDiff(old, updated);
    QVERIFY(!payload.isEmpty());
    QByteArray made;
    qsizetype largestPiece = 0;
    const SuffixPatchResult result =
        applySuffixDiff(old, payload, updated.size(), [&](QByteArrayView piece) {
            made += piece;
            largestPiece = std::max(largestPiece, piece.size());
            return true;
        });
    QVERIFY2(result.outcome == SuffixPatchResult::Outcome::Made, qPrintable(result.reason));
    QVERIFY(made == updated);
    QVERIFY(largestPiece <= 64 * 1024);
    if (beatsZstd)
        QVERIFY2(payload.size() < zstdPatchSize(old, updated),
                 qPrintable(QString::number(payload.size())));
    // One byte more or less than the payload makes is refused.
    for (const qint64 size : {updated.size() + 1, updated.size() - 1}) {
        if (size >= 0)
            QCOMPARE(
                applySuffixDiff(old, payload, size, [](QByteArrayView) { return true; }).outcome,
                SuffixPatchResult::Outcome::Corrupt);
    }
}

void DeltaTest::takesTheSmallestDeltaForTheKeptTree_data()
{
    QTest::addColumn<QStringList>("offers"); // base ("kept" or another) and size
    QTest::addColumn<QString>("downloaded");
    QTest::newRow("one fits") << QStringList{"kept 500"} << "d0.delta";
    QTest::newRow("smallest of two") << QStringList{"kept 500", "kept 300"} << "d1.delta";
    QTest::newRow("smaller for another base") << QStringList{"kept 500", "other 100"} << "d0.delta";
    QTest::newRow("none fits") << QStringList{"other 100"} << "fw.zip";
}

// Several earlier releases each offer a delta: the smallest one whose base is
// the firmware tree kept here is downloaded, otherwise the package.
void DeltaTest::takesTheSmallestDeltaForTheKeptTree()
{
    QFETCH(QStringList, offers);
    QFETCH(QString, downloaded);
    QTemporaryDir root;
    writeTree(root.filePath(".installed_firmware"), {{"/efs/nv.cfg", "nv 1.0"}});
    const QByteArray kept = treeDigest(*listPackageTree(root.filePath(".installed_firmware")));
    QByteArray deltas;
    for (qsizetype index = 0; index < offers.size(); ++index) {
        const QStringList fields = offers[index].split(' ');
        deltas += "<Delta Base=\"" + (fields[0] == "kept" ? kept : QByteArray(64, 'c')) +
                  "\" Filename=\"d" + QByteArray::number(index) + ".delta\" Size=\"" +
                  fields[1].toLatin1() + "\" MD5=\"" + QByteArray(32, '0') + "\" SHA256=\"" +
                  QByteArray(64, 'a') + "\" Manifest=\"" + QByteArray(64, 'b') + "\" URL=\"u\"/>";
    }
    QDomDocument doc;
    QVERIFY(doc.setContent("<D><Info/><Packages><Package Class=\"Firmware Version\" "
                           "Filename=\"fw.zip\" Size=\"90000\">2.0" +
                           deltas + "</Package></Packages></D>"));
    PackageInfo firmware;
    firmware.filename = "fw.zip";

    PackageDownload download(firmwareTrees);
    download.choose(root.path(), doc, firmware);

    QCOMPARE(download.package(firmware).filename, downloaded);
    QCOMPARE(download.usesDelta(), downloaded != "fw.zip");
}

QTEST_GUILESS_MAIN(DeltaTest)
#include "tst_delta.moc"
