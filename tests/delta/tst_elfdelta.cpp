// The ELF difference: round trips on small programs compiled here with the
// machine's cc, the manifest entry it makes and the rebuild that reads it,
// and the bases and payloads the applier refuses before it writes a byte.
#include "delta/deltafile.h"
#include "delta/deltamaker.h"
#include "delta/deltarebuild.h"
#include "delta/elfdiff.h"
#include "delta/elfpatch.h"
#include "delta/elfreferences.h"
#include "delta/packagetree.h"
#include "delta/suffixdiff.h"
#include "software/testsupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <zstd.h>

#include <cstring>

namespace {

// What a release changed in the test program.
enum Change : unsigned {
    None = 0,
    GrownFunction = 1, // one function in the middle grows: every call across it moves
    MovedData = 2,     // a new array before the others: every pointer into them moves
    AddedSection = 4,  // a section of its own
};

// Two hundred functions calling each other across the file, tables of data
// and of pointers to strings and to functions.
QByteArray programSource(unsigned change)
{
    constexpr int functions = 200;
    QByteArray source = "#include <stdio.h>\n";
    if (change & MovedData)
        source += "int inserted[700] = {7, 8, 9};\n";
    source += "int table[64] = {";
    for (int i = 0; i < 64; ++i)
        source += QByteArray::number(i * 37 % 101) + ',';
    source += "};\nconst char* names[] = {";
    for (int i = 0; i < 40; ++i)
        source += "\"name" + QByteArray::number(i) + "\",";
    source += "};\n";
    if (change & AddedSection)
        source += "__attribute__((section(\"extra_data\"))) int extra[32] = {3};\n";
    for (int i = 0; i < functions; ++i)
        source += "int f" + QByteArray::number(i) + "(int x);\n";
    for (int i = 0; i < functions; ++i) {
        const QByteArray n = QByteArray::number(i);
        source += "__attribute__((noinline)) int f" + n + "(int x) {\n  if (x <= 0) return " + n +
                  " + table[x & 63];\n  int r = f" + QByteArray::number((i * 7 + 3) % functions) +
                  "(x - 1) + f" + QByteArray::number((i * 13 + 5) % functions) +
                  "(x - 2);\n  r += names[(x + " + n + ") % 40][0];\n";
        if (i == functions / 2 && (change & GrownFunction)) {
            // Pure arithmetic: its callers compile as before.
            source += "  for (int k = 0; k < x; ++k) { r = r * 31 + table[(k * 5) & 63];"
                      " if (r & 1) r ^= table[(r >> 3) & 63] << 2; else r += k * k; }\n";
        }
        if (i % 10 == 0 && (change & AddedSection))
            source += "  r += extra[x & 31];\n";
        if (i % 20 == 0 && (change & MovedData))
            source += "  r += inserted[x % 700];\n";
        source += "  return r;\n}\n";
    }
    source += "int (*handlers[])(int) = {";
    for (int i = 0; i < functions; i += 9)
        source += "f" + QByteArray::number(i) + ',';
    source += "};\nint main(int argc, char** argv) {\n  (void)argv;\n"
              "  printf(\"%d\\n\", handlers[argc % 23](argc) + f0(argc));\n  return 0;\n}\n";
    return source;
}

QByteArray readWhole(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// What applyElfDiff makes, and whether it reached the sink at all.
struct Applied {
    SuffixPatchResult result;
    QByteArray made;
    bool written = false;
};

Applied apply(const QByteArray& old, const QByteArray& payload, qint64 size)
{
    Applied applied;
    applied.result = applyElfDiff(old, payload, size, [&applied](QByteArrayView piece) {
        applied.written = true;
        applied.made += piece;
        return true;
    });
    return applied;
}

QByteArray zstdFrame(const QByteArray& content)
{
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(content.size()))), '\0');
    out.truncate(qsizetype(ZSTD_compress(out.data(), size_t(out.size()), content.constData(),
                                         size_t(content.size()), 3)));
    return out;
}

template <typename T> void put(QByteArray& bytes, qsizetype at, T value)
{
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

template <typename T> T get(const QByteArray& bytes, qsizetype at)
{
    T value{};
    std::memcpy(&value, bytes.constData() + at, sizeof value);
    return value;
}

QList<DeltaEntry::Kind> manifestKinds(const QByteArray& delta)
{
    const std::optional<DeltaFileParts> parts = splitDeltaFile(delta, delta.size());
    const std::optional<DeltaManifest> manifest =
        parts ? parseManifest(parts->manifest, delta.size() - parts->payloadOffset) : std::nullopt;
    QList<DeltaEntry::Kind> kinds;
    for (const DeltaEntry& entry : manifest ? manifest->entries : QList<DeltaEntry>())
        kinds << entry.kind;
    return kinds;
}

} // namespace

class ElfDeltaTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrips_data();
    void roundTrips();
    void installsThroughTheElfEntry();
    void otherFilesFallBack();
    void refusesBeforeWriting_data();
    void refusesBeforeWriting();
    void refusedBaseWritesNothingInTheRebuild();

private:
    // The program built with the given change and options, cached by name.
    QByteArray build(const QString& name, unsigned change, const QStringList& options = {},
                     bool strip = false);
    QTemporaryDir dir;
    QString compiler;
    QString stripper;
};

void ElfDeltaTest::initTestCase()
{
    compiler = QStandardPaths::findExecutable("cc");
    stripper = QStandardPaths::findExecutable("strip");
    if (compiler.isEmpty() || stripper.isEmpty())
        QSKIP("no cc or strip to build the test programs with");
}

QByteArray ElfDeltaTest::build(const QString& name, unsigned change, const QStringList& options,
                               bool strip)
{
    const QString output = dir.filePath(name);
    if (QFileInfo::exists(output))
        return readWhole(output);
    const QString source = dir.filePath(name + ".c");
    writeFile(source, programSource(change));
    QProcess cc;
    cc.start(compiler, QStringList{"-O1", "-fno-inline", "-w", "-o", output, source} + options);
    if (!cc.waitForFinished(60000) || cc.exitCode() != 0)
        return {};
    if (strip) {
        QProcess stripping;
        stripping.start(stripper, {output});
        if (!stripping.waitForFinished(60000) || stripping.exitCode() != 0)
            return {};
    }
    return readWhole(output);
}

void ElfDeltaTest::roundTrips_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("updated");
    QTest::addColumn<bool>("beatsSuffixDiff");

    const QStringList pie;
    const QStringList shared = {"-shared", "-fPIC"};
    const QStringList fixed = {"-no-pie", "-fno-pie"};
    const QByteArray base = build("base", None);
    QTest::newRow("function grown") << base << build("grown", GrownFunction) << true;
    QTest::newRow("data moved") << base << build("moved", MovedData) << true;
    QTest::newRow("section added") << base << build("section", AddedSection) << true;
    QTest::newRow("all three") << base << build("all", GrownFunction | MovedData | AddedSection)
                               << true;
    QTest::newRow("stripped") << build("base-s", None, pie, true)
                              << build("grown-s", GrownFunction, pie, true) << true;
    QTest::newRow("unstripped to stripped")
        << base << build("grown-s", GrownFunction, pie, true) << false;
    QTest::newRow("stripped to unstripped")
        << build("base-s", None, pie, true) << build("grown", GrownFunction) << false;
    QTest::newRow("shared object") << build("base.so", None, shared)
                                   << build("grown.so", GrownFunction | MovedData, shared) << true;
    QTest::newRow("fixed-address executable")
        << build("base-fixed", None, fixed)
        << build("grown-fixed", GrownFunction | MovedData, fixed) << true;
    QTest::newRow("unchanged") << base << base << false;
}

void ElfDeltaTest::roundTrips()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, updated);
    QFETCH(bool, beatsSuffixDiff);
    QVERIFY2(!old.isEmpty() && !updated.isEmpty(), "the test program did not build");
    QVERIFY(parseElf(old) && countReferences(old, *parseElf(old)) > 400);

    const QByteArray payload = elfDiff(old, updated);
    QVERIFY(!payload.isEmpty());
    const Applied applied = apply(old, payload, updated.size());
    QVERIFY2(applied.result.outcome == SuffixPatchResult::Outcome::Made,
             qPrintable(applied.result.reason));
    QVERIFY(applied.made == updated);
    // The same inputs, the same bytes.
    QCOMPARE(elfDiff(old, updated), payload);
    if (beatsSuffixDiff) {
        const qsizetype plain = suffixDiff(old, updated).size();
        QVERIFY2(payload.size() < plain,
                 qPrintable(
                     QStringLiteral("elf %1 bytes, diff %2 bytes").arg(payload.size()).arg(plain)));
    }
    // One byte more or less than the payload makes is refused.
    QCOMPARE(apply(old, payload, updated.size() + 1).result.outcome,
             SuffixPatchResult::Outcome::Corrupt);
}

// The publisher's delta keeps the ELF difference for a program whose calls
// moved, and the updater's rebuild makes the new tree from that entry.
void ElfDeltaTest::installsThroughTheElfEntry()
{
    const QByteArray old = build("base", None);
    const QByteArray updated = build("all", GrownFunction | MovedData | AddedSection);
    QVERIFY(!old.isEmpty() && !updated.isEmpty());
    QTemporaryDir run;
    writeTree(run.filePath("old"), {{"/bin/tool", old}, {"/readme.txt", "1.0"}});
    writeTree(run.filePath("new"), {{"/bin/tool", updated}, {"/readme.txt", "2.0"}});
    QString error;
    const std::optional<QByteArray> delta =
        makeDelta(run.filePath("old"), run.filePath("new"), error);
    QVERIFY2(delta, qPrintable(error));
    QVERIFY(manifestKinds(*delta).contains(DeltaEntry::Kind::Elf));
    // Twice, the same bytes.
    QCOMPARE(*makeDelta(run.filePath("old"), run.filePath("new"), error), *delta);
    writeFile(run.filePath("d.delta"), *delta);
    const DeltaExpectation expected{sha256(*delta), manifestDigest(*delta), 4 * updated.size()};
    const RebuildResult result = rebuildFromDelta(run.filePath("d.delta"), expected,
                                                  run.filePath("old"), run.filePath("rebuilt"));
    QVERIFY2(result.outcome == RebuildResult::Outcome::Rebuilt, qPrintable(result.reason));
    QCOMPARE(snapshot(run.filePath("rebuilt")), snapshot(run.filePath("new")));
}

// A file that is no ELF file takes the other encoders, as before.
void ElfDeltaTest::otherFilesFallBack()
{
    QRandomGenerator random(5);
    QByteArray text(50000, '\0');
    for (char& byte : text)
        byte = char('a' + random.bounded(26));
    QByteArray changed = text;
    changed.insert(25000, "a few more letters");
    QVERIFY(elfDiff(text, changed).isEmpty());
    QVERIFY(elfDiff(build("base", None), changed).isEmpty());
    QTemporaryDir run;
    writeTree(run.filePath("old"), {{"/notes.txt", text}});
    writeTree(run.filePath("new"), {{"/notes.txt", changed}});
    QString error;
    const std::optional<QByteArray> delta =
        makeDelta(run.filePath("old"), run.filePath("new"), error);
    QVERIFY(delta);
    QVERIFY(!manifestKinds(*delta).isEmpty());
    QVERIFY(!manifestKinds(*delta).contains(DeltaEntry::Kind::Elf));
}

void ElfDeltaTest::refusesBeforeWriting_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("reason");

    const QByteArray old = build("base", None);
    const QByteArray updated = build("grown", GrownFunction);
    const QByteArray good = elfDiff(old, updated);
    const auto changed = [&old](auto edit) {
        QByteArray bytes = old;
        edit(bytes);
        return bytes;
    };
    const auto shoff = get<quint64>(old, 40);
    const quint16 shnum = get<quint16>(old, 60);
    // The first section with bytes in the file after the null one.
    const qsizetype text = qsizetype(shoff) + 64;

    QTest::newRow("not ELF") << QByteArray("MZ" + QByteArray(4000, 'x')) << good << "not an ELF";
    QTest::newRow("truncated header") << old.left(40) << good << "not an ELF";
    QTest::newRow("32-bit") << changed([](QByteArray& b) { b[4] = 1; }) << good << "64-bit";
    QTest::newRow("another machine")
        << changed([](QByteArray& b) { put<quint16>(b, 18, 183); }) << good << "x86-64";
    QTest::newRow("section table past the end")
        << changed([](QByteArray& b) { put<quint64>(b, 40, quint64(b.size()) - 64); }) << good
        << "section table lies outside";
    QTest::newRow("section table offset wraps")
        << changed([](QByteArray& b) { put<quint64>(b, 40, ~quint64(0) - 10); }) << good
        << "section table lies outside";
    QTest::newRow("section past the end")
        << changed([&](QByteArray& b) { put<quint64>(b, text + 32, quint64(b.size())); }) << good
        << "lies outside the file";
    QTest::newRow("section size wraps") << changed([&](QByteArray& b) {
        put<quint64>(b, text + 24, 16);
        put<quint64>(b, text + 32, ~quint64(0) - 8);
    }) << good << "lies outside the file";
    // Every section the whole file again: the scan would read it thousands of times.
    QTest::newRow("sections overlapping") << changed([&](QByteArray& b) {
        for (quint16 index = 1; index < shnum; ++index) {
            put<quint64>(b, qsizetype(shoff) + index * 64 + 24, 0);
            put<quint64>(b, qsizetype(shoff) + index * 64 + 32, quint64(shoff));
        }
    }) << good << "overlap";
    QTest::newRow("names section out of range")
        << changed([&](QByteArray& b) { put<quint16>(b, 62, shnum); }) << good
        << "section names are no section";
    QTest::newRow("link to no section")
        << changed([&](QByteArray& b) { put<quint32>(b, text + 40, shnum); }) << good
        << "links to no section";
    QTest::newRow("wrong section entry size")
        << changed([](QByteArray& b) { put<quint16>(b, 58, 40); }) << good
        << "section table lies outside";
    QTest::newRow("no section table")
        << changed([](QByteArray& b) { put<quint16>(b, 60, 0); }) << good << "no section table";
    QTest::newRow("map not whole") << old << good.left(5) << "shift map is not whole";
    QTest::newRow("map malformed")
        << old << zstdFrame("\x05\x01") + good << "shift map is malformed";
    QTest::newRow("map with one address twice")
        << old << zstdFrame(QByteArray("\x02\x05\x00\x00\x00", 5)) + good
        << "shift map is malformed";
    QTest::newRow("map with an address that wraps")
        << old
        << zstdFrame(QByteArray("\x02\x01\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01\x00", 14)) +
               good
        << "shift map is malformed";
    QTest::newRow("map with too many breakpoints")
        << old << zstdFrame("\xff\xff\xff\xff\x0f") + good << "shift map is malformed";
    // A frame asking for a 1 GiB window: no content size, window 2^30.
    QTest::newRow("map asks for memory")
        << old << QByteArray::fromHex("28b52ffd00a0010000") + good << "malformed";
}

void ElfDeltaTest::refusesBeforeWriting()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, payload);
    QFETCH(QString, reason);
    const Applied applied = apply(old, payload, 100000);
    QCOMPARE(applied.result.outcome, SuffixPatchResult::Outcome::Corrupt);
    QVERIFY2(applied.result.reason.contains(reason), qPrintable(applied.result.reason));
    QVERIFY(!applied.written);
}

// In the updater's rebuild, an ELF entry whose base is no ELF file is refused
// as a bad delta, and its file is never made.
void ElfDeltaTest::refusedBaseWritesNothingInTheRebuild()
{
    QTemporaryDir run;
    const QByteArray updated = build("grown", GrownFunction);
    const QByteArray payload = elfDiff(build("base", None), updated);
    writeTree(run.filePath("old"), {{"/bin/tool", "#!/bin/sh\necho not a program\n"}});
    DeltaManifest manifest{treeDigest(*listPackageTree(run.filePath("old"))), {}};
    DeltaEntry entry =
        DeltaEntry::file(DeltaEntry::Kind::Elf, "bin/tool", 0755, updated.size(), sha256(updated));
    entry.length = payload.size();
    manifest.entries << entry;
    const QByteArray delta = deltaFileBytes(formatManifest(manifest), payload);
    writeFile(run.filePath("d.delta"), delta);
    const DeltaExpectation expected{sha256(delta), manifestDigest(delta), 4 * updated.size()};
    const RebuildResult result = rebuildFromDelta(run.filePath("d.delta"), expected,
                                                  run.filePath("old"), run.filePath("out"));
    QCOMPARE(result.outcome, RebuildResult::Outcome::Refused);
    QVERIFY2(result.reason.contains("not an ELF"), qPrintable(result.reason));
    QVERIFY(!QFileInfo::exists(run.filePath("out/bin/tool")));
}

QTEST_GUILESS_MAIN(ElfDeltaTest)
#include "tst_elfdelta.moc"
