#include "sandbox.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <algorithm>

namespace {

const QString installDir = "/opt/Kestrel/updater";
const QByteArray sampleReport = "RX481\r\n\r\n\r\n\r\n\r\nen_US\r\n1\r\n";

QByteArray output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return "failed: " + process.readAllStandardOutput() + process.readAllStandardError();
    return process.readAllStandardOutput();
}

} // namespace

// The .deb of this build: what it declares, and the updater it installs.
class PackageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void declaresDependenciesAndSettings();
    void installsARunningUpdaterAndKeepsItsSettings();
    void hardensTheShippedBinaries();
    void enablesTheBootRecovery();
    void publisherToolIsItsOwnPackage();
    void bothPackagesPassLintian_data();
    void bothPackagesPassLintian();

private:
    QByteArray field(const QString& name) const;
    QByteArray install(const QString& root) const;

    QString deb;
    QString publisherDeb;
};

void PackageTest::initTestCase()
{
    for (auto [pattern, path] : {std::pair{"cmupdater_*.deb", &deb},
                                 std::pair{"cmupdater-publisher_*.deb", &publisherDeb}}) {
        const QFileInfoList debs = QDir(PACKAGE_DIR).entryInfoList({pattern});
        QCOMPARE(debs.size(), 1);
        *path = debs.first().filePath();
    }
}

QByteArray PackageTest::field(const QString& name) const
{
    return output("dpkg-deb", {"--field", deb, name}).trimmed();
}

// Installs the package with dpkg into a root of its own: its dependencies are
// the machine's, its files and its database the root's.
QByteArray PackageTest::install(const QString& root) const
{
    for (const char* directory : {"var/lib/dpkg/info", "var/lib/dpkg/updates"})
        QDir(root).mkpath(directory);
    QFile status(root + "/var/lib/dpkg/status");
    if (!status.exists() && status.open(QIODevice::WriteOnly))
        status.close();
    return output("dpkg", {"--root=" + root, "--log=/dev/null", "--force-depends",
                           "--force-not-root", "--install", deb});
}

void PackageTest::declaresDependenciesAndSettings()
{
    QCOMPARE(field("Package"), QByteArray("cmupdater"));
    const QByteArrayList depends = field("Depends").split(',');
    // From dpkg-shlibdeps: the Qt of the updater, the libraries of the stand-ins.
    for (const char* package : {"libqt6widgets6", "libcurl4", "libinih1", "libssl3", "unzip"})
        QVERIFY2(std::any_of(depends.cbegin(), depends.cend(),
                             [&](const QByteArray& d) { return d.trimmed().startsWith(package); }),
                 package);
    QCOMPARE(output("dpkg-deb", {"--info", deb, "conffiles"}),
             QByteArray("/etc/Kestrel/updater/UpdateCfg.ini\n"));
}

void PackageTest::installsARunningUpdaterAndKeepsItsSettings()
{
    Sandbox sandbox;
    const QString root = sandbox.scratch("root");
    const QString installed = root + installDir;
    const QByteArray installation = install(root);
    QVERIFY2(!installation.startsWith("failed"), installation.constData());
    for (const char* file : {"cmupdater", "UpdateCfg.ini", "translations/cmupdater_de_DE.qm",
                             "translations/cmupdater_zh_CN.qm", "signed-updates-only"})
        QVERIFY2(QFile::exists(installed + '/' + file), file);

    const QString run = "'" + installed + "/cmupdater'";
    auto result = sandbox.run(run);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, sampleReport);
    // Its options, and a recovery with nothing to do, which needs no display.
    result = sandbox.run(run + " --help");
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.out.contains("\n  --help ") && result.out.contains("\n  --recover "));
    result = sandbox.run("env -u QT_QPA_PLATFORM " + run + " --recover");
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray("nothing to recover\n"));

    // The settings as the connection manager left them survive an upgrade.
    sandbox.writeFile(installed + "/UpdateCfg.ini", "[UPDATE]\nDEVICE=RX999\n");
    const QByteArray upgrade = install(root);
    QVERIFY2(!upgrade.startsWith("failed"), upgrade.constData());
    result = sandbox.run(run);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray("RX999\r\n\r\n\r\n\r\n\r\nen_US\r\n1\r\n"));
}

// The Debian defaults: stack protector, fortified functions, read-only
// relocations, immediate binding, PIE. Only an optimised build fortifies.
// Debian 12's C start files carry no CET marks, so no program linked there has
// them. The stand-in libraries call only functions whose buffer sizes are known
// at run time, where _FORTIFY_SOURCE has nothing to check and hardening-check
// nothing to find.
void PackageTest::hardensTheShippedBinaries()
{
#ifndef HARDENED_BUILD
    QSKIP("a debug or sanitizer build is not what is shipped");
#endif
    QTemporaryDir root;
    QVERIFY(!output("dpkg-deb", {"--extract", deb, root.path()}).startsWith("failed"));
    const QDir installed(root.path() + installDir);
    const QStringList binaries = installed.entryList({"cmupdater*", "*.so"}, QDir::Files);
    QVERIFY(binaries.contains("cmupdater"));
    for (const QString& binary : binaries) {
        QStringList options = {"--nocfprotection", installed.filePath(binary)};
        if (binary.endsWith(".so"))
            options.prepend("--nofortify");
        const QByteArray report = output("hardening-check", options);
        QVERIFY2(!report.startsWith("failed"), report.constData());
    }
}

// The unit that recovers an interrupted install at boot, enabled by the
// package itself, and run only when the install left its traces.
void PackageTest::enablesTheBootRecovery()
{
    QTemporaryDir root;
    QVERIFY(!output("dpkg-deb", {"--extract", deb, root.path()}).startsWith("failed"));
    const QString units = root.path() + "/lib/systemd/system/";
    const QFileInfo wanted(units + "multi-user.target.wants/cmupdater-recover.service");
    QVERIFY(wanted.isSymLink());
    QCOMPARE(wanted.canonicalFilePath(),
             QFileInfo(units + "cmupdater-recover.service").canonicalFilePath());
    QFile unit(units + "cmupdater-recover.service");
    QVERIFY(unit.open(QIODevice::ReadOnly));
    const QByteArrayList lines = unit.readAll().split('\n');
    for (const QString& line :
         QStringList{"ExecStart=" + installDir + "/cmupdater --recover", "Type=oneshot",
                     "Before=display-manager.service",
                     "ConditionPathExists=|" + installDir + "/updatebak.ini",
                     "ConditionPathExists=|" + installDir + "/.install_journal",
                     QString("WantedBy=multi-user.target")})
        QVERIFY2(lines.contains(line.toUtf8()), qPrintable(line));
}

// End users get the updater only; the publisher's tool comes on its own, and runs.
void PackageTest::publisherToolIsItsOwnPackage()
{
    const QByteArray updaterFiles = output("dpkg-deb", {"--contents", deb});
    QVERIFY(updaterFiles.contains(installDir.toUtf8() + "/cmupdater\n"));
    QVERIFY(!updaterFiles.contains("cmupdater-publish"));
    QTemporaryDir root;
    QVERIFY(!output("dpkg-deb", {"--extract", publisherDeb, root.path()}).startsWith("failed"));
    QCOMPARE(output(root.path() + installDir + "/cmupdater-publish", {"--version"}),
             QByteArray("cmupdater-publish " CMUPDATER_VERSION "\n"));
}

void PackageTest::bothPackagesPassLintian_data()
{
    QTest::addColumn<QString>("package");
    QTest::newRow("cmupdater") << deb;
    QTest::newRow("cmupdater-publisher") << publisherDeb;
}

// Nothing left unexplained: every tag kept on purpose has an override with its reason.
void PackageTest::bothPackagesPassLintian()
{
    QFETCH(QString, package);
    QProcess lintian;
    lintian.start("lintian", {"--fail-on", "error,warning", "--no-tag-display-limit", package});
    QVERIFY(lintian.waitForFinished(300000));
    const QByteArray said = lintian.readAllStandardOutput() + lintian.readAllStandardError();
    QVERIFY2(lintian.exitStatus() == QProcess::NormalExit && lintian.exitCode() == 0,
             said.constData());
}

QTEST_MAIN(PackageTest)
#include "tst_package.moc"
