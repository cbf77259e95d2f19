#include "release.h"

#include "packages/xmlparser.h"
#include "session/downloadcompletion.h"
#include "software/packagefiles.h"
#include "software/testsupport.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(Came)
// How the download ended; nullopt while a full package is fetched again.
using Answer = std::optional<DownloadOutcome>;
Q_DECLARE_METATYPE(Answer)

// A finished download judged without a dialog, on real packages and deltas;
// the dialog's two hooks are recorded.
class DownloadCompletionTest : public QObject {
    Q_OBJECT

private slots:
    void answersForTheDownloadedPackages_data();
    void answersForTheDownloadedPackages();
};

void DownloadCompletionTest::answersForTheDownloadedPackages_data()
{
    QTest::addColumn<int>("chosen");
    QTest::addColumn<Came>("software");
    QTest::addColumn<Came>("firmware");
    QTest::addColumn<bool>("keyed"); // with a key, whole packages must match their digest
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("again");    // downloaded once more, SELECTED_NONE for nothing
    QTest::addColumn<QString>("tree"); // the software step's tree, or ""
    QTest::addColumn<QString>("gone"); // a downloaded file not kept, or ""

    const Answer proceed = DownloadOutcome::Downloaded;
    const Answer refused = DownloadOutcome::Refused;
    const Answer again = std::nullopt;
    const int none = SELECTED_NONE;
    const int sw = SELECTED_SOFTWARE;
    const int both = SELECTED_BOTH;
    const QString unpacked = ".unpacked_package";
    const QString rebuilt = ".delta_rebuild";
    QTest::newRow("whole software")
        << sw << Came::Whole << Came::Absent << true << proceed << none << unpacked << "";
    QTest::newRow("tampered software")
        << sw << Came::Tampered << Came::Absent << true << refused << none << ""
        << "sw.zip";
    QTest::newRow("software that would not install")
        << sw << Came::Broken << Came::Absent << false << Answer(DownloadOutcome::PackageBroken)
        << none << ""
        << "sw.zip";
    QTest::newRow("software delta")
        << sw << Came::Delta << Came::Absent << true << proceed << none << rebuilt << "";
    QTest::newRow("damaged software delta")
        << sw << Came::DamagedDelta << Came::Absent << false << refused << none << ""
        << "sw.delta";
    QTest::newRow("software delta rebuilding a reserved name")
        << sw << Came::ReservedDelta << Came::Absent << false << refused << none << "" << rebuilt;
    QTest::newRow("software delta for another base")
        << sw << Came::StaleDelta << Came::Absent << false << again << sw << unpacked << "sw.delta";
    QTest::newRow("firmware delta for another base")
        << both << Came::Delta << Came::StaleDelta << false << again << int(SELECTED_FIRMWARE)
        << rebuilt << "fw.delta";
    QTest::newRow("both deltas for another base")
        << both << Came::StaleDelta << Came::StaleDelta << false << again << both << unpacked << "";
    QTest::newRow("damaged firmware delta")
        << both << Came::Delta << Came::DamagedDelta << false << refused << none << ""
        << "fw.delta";
    QTest::newRow("firmware delta, whole software")
        << both << Came::Whole << Came::Delta << true << proceed << none << unpacked << "";
    QTest::newRow("tampered firmware")
        << both << Came::Whole << Came::Tampered << true << refused << none << ""
        << "fw.zip";
    QTest::newRow("firmware that would not flash")
        << both << Came::Whole << Came::Broken << false << Answer(DownloadOutcome::FirmwareBroken)
        << none << ""
        << "fw.zip";
    QTest::newRow("software not chosen")
        << int(SELECTED_FIRMWARE) << Came::Whole << Came::Whole << false << proceed << none << ""
        << "";
}

void DownloadCompletionTest::answersForTheDownloadedPackages()
{
    QFETCH(int, chosen);
    QFETCH(Came, software);
    QFETCH(Came, firmware);
    QFETCH(bool, keyed);
    QFETCH(Answer, answer);
    QFETCH(int, again);
    QFETCH(QString, tree);
    QFETCH(QString, gone);
    QTemporaryDir base;
    QTemporaryDir work;
    Release sw{base.path(), "sw", ".installed_package", {}, {}};
    Release fw{base.path(), "fw", ".installed_firmware", {}, {}};
    const QByteArray swEntry = sw.entry("Software Version", software, work.filePath("sw"));
    const QByteArray fwEntry = fw.entry("Firmware Version", firmware, work.filePath("fw"));
    QVERIFY(!swEntry.isEmpty() && !fwEntry.isEmpty());
    XmlParser parser;
    parser.setContent("<Update><Info><Version>2.0</Version></Info><Packages>" + swEntry + fwEntry +
                      "</Packages><Servers/></Update>");
    QVERIFY(parser.get());
    if (keyed)
        writeFile(base.filePath("update-key.pem"), "a key, as far as the package check goes");
    PackageDownload softwareDownload(softwareTrees);
    PackageDownload firmwareDownload(firmwareTrees);
    softwareDownload.choose(base.path(), parser.doc, parser.software);
    firmwareDownload.choose(base.path(), parser.doc, parser.firmware);
    QCOMPARE(firmwareDownload.usesDelta(), firmware >= Came::Delta);
    sw.downloaded(software);
    fw.downloaded(firmware);

    UpdateDispatcher::TreeSource treeSource;
    QList<int> downloadsAgain;
    DownloadCompletion completion(
        base.path(), parser, softwareDownload, firmwareDownload,
        [&treeSource](UpdateDispatcher::TreeSource source) { treeSource = std::move(source); },
        [&downloadsAgain](SelectedModule module) { downloadsAgain << module; });
    QCOMPARE(completion.finish(SelectedModule(chosen)), answer);
    QCOMPARE(downloadsAgain, again == SELECTED_NONE ? QList<int>() : QList<int>{again});
    QVERIFY(gone.isEmpty() || !QFileInfo::exists(base.filePath(gone)));
    if (!answer) {
        // The agent brings the full packages that fell back; nothing more is fetched.
        sw.downloaded(again != SELECTED_FIRMWARE ? Came::Whole : Came::Absent);
        fw.downloaded(again != SELECTED_SOFTWARE ? Came::Whole : Came::Absent);
        QCOMPARE(completion.finish(SelectedModule(chosen)), Answer(DownloadOutcome::Downloaded));
        QCOMPARE(downloadsAgain.size(), 1);
    }
    // A firmware delta that passed is rebuilt for the flash.
    QCOMPARE(firmwareDownload.rebuilt(),
             firmware == Came::Delta && answer != Answer(DownloadOutcome::Refused));
    QCOMPARE(bool(treeSource), !tree.isEmpty());
    if (!treeSource)
        return;
    QVERIFY(QFileInfo(base.filePath(tree)).isDir());
    PackageFiles files(base.path());
    QVERIFY(treeSource(files, sw.path(".zip")));
    QCOMPARE(readFile(base.filePath("download/a.txt")), QByteArray("new"));
}

QTEST_GUILESS_MAIN(DownloadCompletionTest)
#include "tst_downloadcompletion.moc"
