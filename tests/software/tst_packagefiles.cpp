#include "software/packagefiles.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class TestPackageFiles final : public QObject {
    Q_OBJECT

private slots:
    void init();

    void listsFilesCaseInsensitivelyDepthFirst();
    void unzipListsTheUnpackedPackage();
    void unzipResultFollowsTheUnpackStatus_data();
    void unzipResultFollowsTheUnpackStatus();
    void bakSavesOnlyInstalledFilesUnderTheirRelativePaths();
    void bakStopsAtTheFirstFailedSave();
    void scrollBackPutsTheInstallationBack();
    void copyFailsWhenTheCopyFails_data();
    void copyFailsWhenTheCopyFails();
    void backupFileNeedsItsSource();
    void delRemovesTreesAndToleratesMissingPaths();

private:
    QString base() const { return dir.path() + "/inst"; }
    QStringList listed(const QString& root) const;

    QTemporaryDir dir;
    QStringList journal;
};

void TestPackageFiles::init()
{
    QVERIFY(dir.isValid());
    QDir(base()).removeRecursively();
    QVERIFY(QDir().mkpath(base()));
    journal.clear();
}

QStringList TestPackageFiles::listed(const QString& root) const
{
    QStringList list;
    PackageFiles::getAllFileName(root, &list, root);
    return list;
}

void TestPackageFiles::listsFilesCaseInsensitivelyDepthFirst()
{
    const QString root = base() + "/tree";
    writeTree(root, {{"/sub/b.txt", "b"},
                     {"/sub/deeper/c.txt", "c"},
                     {"/sub/.keep", ""},
                     {"/B.txt", "B"},
                     {"/a.txt", "a"}});
    QVERIFY(QDir().mkpath(root + "/empty"));
    QVERIFY(QFile::link("a.txt", root + "/link.txt"));
    QVERIFY(QFile::link(".", root + "/loop"));

    QStringList list{"/first"};
    PackageFiles::getAllFileName(root, &list, root);

    QCOMPARE(list, (QStringList{"/first", "/a.txt", "/B.txt", "/link.txt", "/sub/.keep",
                                "/sub/b.txt", "/sub/deeper/c.txt"}));
}

void TestPackageFiles::unzipListsTheUnpackedPackage()
{
    writeTree(dir.path() + "/content", {{"/sub/b.txt", "b"}, {"/a.txt", "a"}});
    QVERIFY(makeZip(dir.path() + "/content", base() + "/pkg.zip"));
    PackageFiles files(base());

    QVERIFY(files.unzip(base() + "/pkg.zip"));

    QCOMPARE(files.newFilesInfo, (QStringList{"/a.txt", "/sub/b.txt"}));
    QCOMPARE(readFile(base() + "/download/sub/b.txt"), QByteArray("b"));
}

void TestPackageFiles::unzipResultFollowsTheUnpackStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("unpacked");

    QTest::newRow("no shell") << -1 << false;
    QTest::newRow("clean") << exitedWith(0) << true;
    QTest::newRow("warnings only") << exitedWith(1) << true;
    QTest::newRow("generic error") << exitedWith(2) << false;
    QTest::newRow("no archive") << exitedWith(9) << false;
    QTest::newRow("killed") << 9 << false;
}

void TestPackageFiles::unzipResultFollowsTheUnpackStatus()
{
    QFETCH(int, status);
    QFETCH(bool, unpacked);
    writeFile(base() + "/download/left.txt", "");
    RecordingRunner runner(&journal);
    runner.answer("unzip ", status);
    PackageFiles files(base());
    files.newFilesInfo = QStringList{"/old"};

    QCOMPARE(files.unzip(base() + "/my pkg.zip"), unpacked);

    QCOMPARE(journal, expanded({"$ unzip '@/my pkg.zip' -d  '@/download' >/dev/null"}, base()));
    QCOMPARE(files.newFilesInfo, unpacked ? QStringList{"/left.txt"} : QStringList{"/old"});
}

void TestPackageFiles::bakSavesOnlyInstalledFilesUnderTheirRelativePaths()
{
    writeTree(base() + "/download",
              {{"/a.txt", ""}, {"/other/b.txt", ""}, {"/sub/b.txt", ""}, {"/sub/new.txt", ""}});
    writeTree(base(),
              {{"/a.txt", "old a"}, {"/other/b.txt", "old other b"}, {"/sub/b.txt", "old b"}});
    PackageFiles files(base());
    files.newFilesInfo = listed(base() + "/download");
    files.backFilesInfo = QStringList{"/stale"};

    QVERIFY(files.bak());

    QCOMPARE(files.backFilesInfo, (QStringList{"/a.txt", "/other/b.txt", "/sub/b.txt"}));
    QCOMPARE(listed(base() + "/bak"), files.backFilesInfo);
    QCOMPARE(readFile(base() + "/bak/other/b.txt"), QByteArray("old other b"));
    QCOMPARE(readFile(base() + "/bak/sub/b.txt"), QByteArray("old b"));
}

void TestPackageFiles::bakStopsAtTheFirstFailedSave()
{
    writeTree(base(), {{"/a.txt", ""}, {"/b.txt", ""}, {"/c.txt", ""}});
    RecordingRunner runner(&journal);
    runner.answer(expanded({"cp -r --remove-destination '@/b.txt'"}, base()).first(),
                  exitedWith(1));
    PackageFiles files(base());
    files.newFilesInfo = QStringList{"/a.txt", "/b.txt", "/c.txt"};

    QVERIFY(!files.bak());

    QCOMPARE(files.backFilesInfo, QStringList{"/a.txt"});
    QCOMPARE(journal, expanded({"$ alias cp='cp'", "$ mkdir '@/bak'",
                                "$ cp -r --remove-destination '@/a.txt'  '@/bak/a.txt'",
                                "$ cp -r --remove-destination '@/b.txt'  '@/bak/b.txt'"},
                               base()));
}

void TestPackageFiles::scrollBackPutsTheInstallationBack()
{
    writeTree(base(), {{"/a.txt", "old a"}, {"/sub/b.txt", "old b"}, {"/keep.txt", "kept"}});
    const QMap<QString, QByteArray> before = snapshot(base());
    writeTree(base() + "/download",
              {{"/a.txt", "new a"}, {"/sub/b.txt", "new b"}, {"/sub/added.txt", "added"}});
    writeFile(base() + "/.private_data_bak/sms.xml", "saved");
    PackageFiles files(base());
    files.newFilesInfo = listed(base() + "/download");
    QVERIFY(files.bak());
    QVERIFY(files.copy());
    QCOMPARE(readFile(base() + "/sub/b.txt"), QByteArray("new b"));

    files.scrollBack();

    QVERIFY(files.del(base() + "/download"));
    QVERIFY(files.del(base() + "/bak"));
    QCOMPARE(snapshot(base()), before);
}

void TestPackageFiles::copyFailsWhenTheCopyFails_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("copied");

    QTest::newRow("copied") << exitedWith(0) << true;
    QTest::newRow("cp failed") << exitedWith(1) << false;
    QTest::newRow("no shell") << -1 << false;
}

void TestPackageFiles::copyFailsWhenTheCopyFails()
{
    QFETCH(int, status);
    QFETCH(bool, copied);
    RecordingRunner runner(&journal);
    runner.answer("cp ", status);

    QCOMPARE(PackageFiles(base()).copy(), copied);

    QCOMPARE(journal, expanded({"$ cp -r --remove-destination '@/download'/* '@'"}, base()));
}

void TestPackageFiles::backupFileNeedsItsSource()
{
    writeFile(base() + "/Data/sms.xml", "mine");
    RecordingRunner runner(&journal);
    PackageFiles files(base());

    QVERIFY(!files.backupFile(base() + "/save", "/contact.xml", base() + "/Data"));
    QVERIFY(journal.isEmpty());
    QVERIFY(files.backupFile(base() + "/save", "/sms.xml", base() + "/Data"));
    QCOMPARE(journal,
             expanded({"$ cp --remove-destination '@/Data/sms.xml' '@/save/sms.xml'"}, base()));
    runner.answer("cp ", exitedWith(1));
    QVERIFY(!files.backupFile(base() + "/save", "/sms.xml", base() + "/Data"));
}

void TestPackageFiles::delRemovesTreesAndToleratesMissingPaths()
{
    writeFile(base() + "/tree/sub/file", "x");
    PackageFiles files(base());

    QVERIFY(files.del(base() + "/tree"));
    QVERIFY(!QFileInfo::exists(base() + "/tree"));
    QVERIFY(files.del(base() + "/never there"));

    RecordingRunner runner(&journal);
    runner.answer("rm ", -1);
    QVERIFY(!files.del(base() + "/tree"));
    QCOMPARE(journal, expanded({"$ alias rm='rm'", "$ rm -rf '@/tree'"}, base()));
}

QTEST_GUILESS_MAIN(TestPackageFiles)
#include "tst_packagefiles.moc"
