#include "software/installtransaction.h"
#include "software/packagecheck.h"
#include "software/packagefiles.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

class TestPackageFiles final : public QObject {
    Q_OBJECT

private slots:
    void init();

    void listsFilesCaseInsensitivelyDepthFirst();
    void unzipListsTheUnpackedPackage();
    void unzipResultFollowsTheUnpackStatus_data();
    void unzipResultFollowsTheUnpackStatus();
    void bakSavesOnlyInstalledFilesUnderTheirRelativePaths();
    void bakFailsWhenItsLineFails();
    void scrollBackPutsTheInstallationBack();
    void copyFailsWhenTheCopyFails_data();
    void copyFailsWhenTheCopyFails();
    void backupFileNeedsItsSource();
    void delRemovesTreesAndToleratesMissingPaths();
    void packageNeverChangesTheKeys_data();
    void packageNeverChangesTheKeys();

private:
    QString base() const { return dir.path() + "/inst"; }
    FileNames listed(const QString& root) const;

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

FileNames TestPackageFiles::listed(const QString& root) const
{
    FileNames list;
    const QByteArray bytes = QFile::encodeName(root);
    PackageFiles::getAllFileName(bytes, &list, bytes);
    return list;
}

void TestPackageFiles::listsFilesCaseInsensitivelyDepthFirst()
{
    const QString root = base() + "/tree";
    writeTree(root, {{"/sub/b.txt", "b"},
                     {"/sub/deeper/c.txt", "c"},
                     {"/sub/.keep", ""},
                     {"/B.txt", "B"},
                     {"/.git/HEAD", "stray"},
                     {"/a.txt", "a"}});
    QVERIFY(QDir().mkpath(root + "/empty"));
    QVERIFY(QDir().mkpath(root + "/sub/.cache"));
    QVERIFY(QFile::link("a.txt", root + "/link.txt"));
    QVERIFY(QFile::link(".", root + "/loop"));

    FileNames list{"/first"};
    const QByteArray bytes = QFile::encodeName(root);
    PackageFiles::getAllFileName(bytes, &list, bytes);

    // Links are listed as links, a linked directory too, and never followed;
    // an empty directory as itself; a dot name only below the top.
    QCOMPARE(list, (FileNames{"/first", "/a.txt", "/B.txt", "/empty", "/link.txt", "/loop",
                              "/sub/.cache", "/sub/.keep", "/sub/b.txt", "/sub/deeper/c.txt"}));
}

void TestPackageFiles::unzipListsTheUnpackedPackage()
{
    writeTree(dir.path() + "/content", {{"/sub/b.txt", "b"}, {"/a.txt", "a"}});
    // What the publisher left writable by anyone is not so once unpacked.
    QVERIFY(::chmod(QFile::encodeName(dir.path() + "/content/sub").constData(), 0777) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir.path() + "/content/sub/b.txt").constData(), 0666) == 0);
    QVERIFY(makeZip(dir.path() + "/content", base() + "/pkg.zip"));
    PackageFiles files(base());

    QVERIFY(files.unzip(base() + "/pkg.zip"));

    QCOMPARE(files.newFilesInfo, (FileNames{"/a.txt", "/sub/b.txt"}));
    QCOMPARE(readFile(base() + "/download/sub/b.txt"), QByteArray("b"));
    for (const char* made : {"/download/sub", "/download/sub/b.txt"}) {
        struct stat info {};
        QVERIFY(::stat(QFile::encodeName(base() + made).constData(), &info) == 0);
        QCOMPARE(info.st_mode & 022, mode_t(0));
    }
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
    runner.answer("rm -rf -- ", status);
    PackageFiles files(base());
    files.newFilesInfo = FileNames{"/old"};

    QCOMPARE(files.unzip(base() + "/my pkg.zip"), unpacked);

    QStringList lines{"$ rm -rf -- '@/download'; mkdir -m 0700 -- '@/download' "
                      "2>/dev/null; unzip '@/my pkg.zip' -d  '@/download' >/dev/null </dev/null"};
    if (unpacked)
        lines << "$ chmod -R go-w -- '@/download'";
    QCOMPARE(journal, expanded(lines, base()));
    QCOMPARE(files.newFilesInfo, unpacked ? FileNames{"/left.txt"} : FileNames{"/old"});
}

void TestPackageFiles::bakSavesOnlyInstalledFilesUnderTheirRelativePaths()
{
    writeTree(base() + "/download",
              {{"/a.txt", ""}, {"/other/b.txt", ""}, {"/sub/b.txt", ""}, {"/sub/new.txt", ""}});
    writeTree(base(),
              {{"/a.txt", "old a"}, {"/other/b.txt", "old other b"}, {"/sub/b.txt", "old b"}});
    PackageFiles files(base());
    files.newFilesInfo = listed(base() + "/download");
    files.backFilesInfo = FileNames{"/stale"};

    QVERIFY(files.bak());

    QCOMPARE(files.backFilesInfo, (FileNames{"/a.txt", "/other/b.txt", "/sub/b.txt"}));
    QCOMPARE(listed(base() + "/bak"), files.backFilesInfo);
    QCOMPARE(readFile(base() + "/bak/other/b.txt"), QByteArray("old other b"));
    QCOMPARE(readFile(base() + "/bak/sub/b.txt"), QByteArray("old b"));
}

void TestPackageFiles::bakFailsWhenItsLineFails()
{
    writeTree(base(), {{"/a.txt", ""}, {"/b.txt", ""}});
    RecordingRunner runner(&journal);
    runner.answer("mkdir ", exitedWith(1));
    PackageFiles files(base());
    files.newFilesInfo = FileNames{"/a.txt", "/b.txt", "/c.txt"};

    QVERIFY(!files.bak());

    // One line for any number of files; the names go through the journal's list.
    QCOMPARE(files.backFilesInfo, (FileNames{"/a.txt", "/b.txt"}));
    QCOMPARE(files.journal().readList("replaced"), (FileNames{"a.txt", "b.txt"}));
    QCOMPARE(files.journal().readList("added"), FileNames{"c.txt"});
    QCOMPARE(journal,
             expanded({"$ mkdir -m 0700 -- '@/bak' && cd -- '@' && { xargs -0 -r -a "
                       "'@/.install_journal/replaced' cp -al --parents --remove-destination -t "
                       "'@/bak' -- 2>/dev/null || xargs -0 -r -a '@/.install_journal/replaced' cp "
                       "-a --parents --remove-destination -t '@/bak' --; } && sync -f -- '@'"},
                      base()));
}

void TestPackageFiles::scrollBackPutsTheInstallationBack()
{
    const QByteArray oddName = "/caf\xe9 \xff.txt"; // Latin-1, not UTF-8
    writeTree(base(), {{"/a.txt", "old a"},
                       {"/sub/b.txt", "old b"},
                       {"/keep.txt", "kept"},
                       {"/lib/libcm.so.1", "old library"}});
    QVERIFY(QFile::link("libcm.so.1", base() + "/lib/libcm.so"));
    QVERIFY(QFile::link("sub", base() + "/linked"));
    writeRawFile(QFile::encodeName(base()) + oddName, "old odd");
    const QMap<QString, QByteArray> before = snapshot(base());
    const QString download = base() + "/download";
    writeTree(download, {{"/a.txt", "new a"},
                         {"/sub/b.txt", "new b"},
                         {"/sub/added.txt", "added"},
                         {"/lib/libcm.so.2", "new library"},
                         {"/linked", "a file where a directory link was"},
                         {"/new/deeper/c.txt", "in new directories"}});
    QVERIFY(QFile::link("libcm.so.2", download + "/lib/libcm.so"));
    QVERIFY(QFile::link("missing", download + "/dangling"));
    writeRawFile(QFile::encodeName(download) + oddName, "new odd");
    PackageFiles files(base());
    files.newFilesInfo = listed(download);
    QVERIFY(files.bak());
    QVERIFY(files.copy());
    QCOMPARE(snapshot(base()).value("/lib/libcm.so"), QByteArray("-> libcm.so.2"));
    QCOMPARE(readRawFile(QFile::encodeName(base()) + oddName), QByteArray("new odd"));

    QVERIFY(files.scrollBack());

    QVERIFY(files.del(download));
    QVERIFY(files.del(base() + "/bak"));
    QVERIFY(files.del(files.journal().dir()));
    QCOMPARE(snapshot(base()), before);
    // QDir cannot remove a name that is not UTF-8.
    QCOMPARE(std::remove((QFile::encodeName(base()) + oddName).constData()), 0);
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
    runner.answer("sync ", status);

    QCOMPARE(PackageFiles(base()).copy(), copied);

    QCOMPARE(journal,
             expanded({"$ sync -f -- '@' && cd -- '@/download' && { xargs -0 -r -a "
                       "'@/.install_journal/package' cp -al --parents --remove-destination -t '@' "
                       "-- 2>/dev/null || xargs -0 -r -a '@/.install_journal/package' cp -a "
                       "--parents --remove-destination -t '@' --; } && sync -f -- '@'"},
                      base()));
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
             expanded({"$ { ln -f -- '@/Data/sms.xml' '@/save/sms.xml' 2>/dev/null || cp -a "
                       "--remove-destination -- '@/Data/sms.xml' '@/save/sms.xml'; }"},
                      base()));
    runner.answer("{ ln ", exitedWith(1));
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

void TestPackageFiles::packageNeverChangesTheKeys_data()
{
    QTest::addColumn<QByteArray>("name");          // in the package
    QTest::addColumn<QByteArray>("installedLink"); // "name target", made before
    QTest::addColumn<QByteArray>("refusal");       // of the install, over the unpacked tree

    const auto byName = [](const char* tag, const char* name, const char* top) {
        QTest::newRow(tag) << QByteArray(name) << QByteArray()
                           << (top != nullptr ? QByteArray("work path ") + top : QByteArray());
    };
    byName("the key", "/update-key.pem", "update-key.pem");
    byName("the key list", "/trusted-keys.xml/x", "trusted-keys.xml");
    byName("the signed-only marker", "/signed-updates-only", "signed-updates-only");
    byName("the accepted issue time", "/update-issued", "update-issued");
    byName("the settings", "/UpdateCfg.ini", "UpdateCfg.ini");
    byName("the toolkit's qt.conf", "/qt.conf", "qt.conf");
    byName("the translations", "/translations/cmupdater_de_DE.qm", "translations");
    byName("the published key list", "/Keys.xml", "Keys.xml");
    byName("its signature", "/Keys.xml.sig", "Keys.xml.sig");
    byName("the description's signature", "/Description.xml.sig", "Description.xml.sig");
    byName("a file of the same name deeper", "/doc/update-key.pem", nullptr);
    // An earlier release installed the link; the copy would follow it.
    QTest::newRow("through a link to the top")
        << QByteArray("/foo/trusted-keys.xml") << QByteArray("foo .")
        << QByteArray("work path trusted-keys.xml through /foo/trusted-keys.xml");
    QTest::newRow("through an absolute link to the top")
        << QByteArray("/foo/qt.conf") << QByteArray("foo @")
        << QByteArray("work path qt.conf through /foo/qt.conf");
    QTest::newRow("through a link to a work directory")
        << QByteArray("/w/x") << QByteArray("w sub/../bak")
        << QByteArray("work path bak through /w/x");
    QTest::newRow("through a link out")
        << QByteArray("/up/x") << QByteArray("up sub/../..")
        << QByteArray("installed directory out of the installation /up/x");
    QTest::newRow("through a link inside")
        << QByteArray("/foo/x") << QByteArray("foo sub") << QByteArray();
}

// Only the updater changes its keys, settings and toolkit files: a package
// that would write one of them, by its name or through a directory link
// already installed, is refused before the connection manager is stopped and
// again by the install, whatever signed it.
void TestPackageFiles::packageNeverChangesTheKeys()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, installedLink);
    QFETCH(QByteArray, refusal);
    QVERIFY(QDir().mkpath(base() + "/sub"));
    if (!installedLink.isEmpty()) {
        const QList<QByteArray> link = installedLink.split(' ');
        const QByteArray target = link[1] == "@" ? QFile::encodeName(base()) : link[1];
        QVERIFY(::symlink(target.constData(), QFile::encodeName(base() + '/' + link[0])) == 0);
    }
    const QString tree = dir.path() + "/package";
    QDir(tree).removeRecursively();
    writeTree(tree, {{"/a.txt", "a"}, {QString::fromUtf8(name), "payload"}});
    QVERIFY(makeZip(tree, base() + "/sw.zip"));
    const QMap<QString, QByteArray> before = snapshot(base());

    const QString beforeStop = unpackBeforeStop(base(), "sw.zip").text;

    QCOMPARE(beforeStop.isEmpty(), refusal.isEmpty());
    if (!refusal.isEmpty())
        QCOMPARE(snapshot(base()), before); // nothing unpacked is left behind
    PackageFiles files(base());
    files.newFilesInfo = {"/a.txt", name};
    const InstallTransaction install(base(), files);
    QCOMPARE(install.refusal("sw.zip"), refusal);
}

QTEST_GUILESS_MAIN(TestPackageFiles)
#include "tst_packagefiles.moc"
