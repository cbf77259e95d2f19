#include "sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <filesystem>

namespace {

void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    const QDir source(from);
    for (const QFileInfo& entry : source.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = to + '/' + entry.fileName();
        if (entry.isDir())
            copyTree(entry.filePath(), target);
        else
            QFile::copy(entry.filePath(), target);
    }
}

} // namespace

Sandbox::Sandbox()
{
    copyTree(QStringLiteral(E2E_INSTALLED_DIR), installation());
    // Whatever key the build installs, a test starts without one and installs its own.
    QFile::remove(path(QStringLiteral("update-key.pem")));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("LANG", "C.UTF-8");
    // A sanitizer build runs with the wizard's driver preloaded ahead of its runtime.
    environment.insert("ASAN_OPTIONS",
                       environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
}

Sandbox::Result Sandbox::run(const QString& script, int timeoutMs) const
{
    const QString root = dir.path();
    const QStringList arguments = QStringList{"--ro-bind",
                                              "/",
                                              "/",
                                              "--bind",
                                              root,
                                              root,
                                              "--dev",
                                              "/dev",
                                              "--tmpfs",
                                              "/run",
                                              "--proc",
                                              "/proc",
                                              "--unshare-pid",
                                              "--die-with-parent"} +
                                  mounts +
                                  QStringList{"--chdir", installation(), "/bin/sh", "-c", script};
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start("bwrap", arguments);
    Result result;
    result.finished = process.waitForStarted() && process.waitForFinished(timeoutMs);
    if (!result.finished)
        process.kill();
    result.elapsedMs = clock.elapsed();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

void Sandbox::writeFile(const QString& path, const QByteArray& content) const
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray Sandbox::readFile(const QString& path) const
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Sandbox::writeSettings(const QString& serverUrl, const QByteArray& updateLines) const
{
    // The first occurrence of a key counts: the given lines come first. The
    // sample managers end at once, so the health watch is off unless asked for.
    writeFile(path("UpdateCfg.ini"), "[UPDATE]\n" + updateLines +
                                         "CM_NAME=Kestrel\n"
                                         "HEALTH_TIME=0\n"
                                         "DEVICE=RX481\n"
                                         "SOFTWARE_VERSION=1.0\n"
                                         "FIRMWARE_VERSION=F1\n"
                                         "IMEI_ID=123456789012345\n"
                                         "CLINT_GROUP=retail\n"
                                         "[AGENT]\n"
                                         "SERVER_URL=" +
                                         serverUrl.toUtf8() + "\n");
}

QStringList Sandbox::etcPreloading(const QString& library) const
{
    const QString preload = scratch("ld.so.preload");
    writeFile(preload, library.toUtf8() + '\n');
    QStringList options{"--tmpfs", "/etc"};
    const QDir etc("/etc");
    for (const QString& name :
         etc.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const std::filesystem::path entry = etc.filePath(name).toStdString();
        if (std::filesystem::is_symlink(entry))
            options << "--symlink" << QString::fromStdString(std::filesystem::read_symlink(entry))
                    << QString::fromStdString(entry);
        else
            options << "--ro-bind" << QString::fromStdString(entry)
                    << QString::fromStdString(entry);
    }
    return options << "--ro-bind" << preload << "/etc/ld.so.preload";
}
