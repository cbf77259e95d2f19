#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A copy of the installed updater in a temporary directory, run inside a
// bubblewrap sandbox with a private /run, /dev and pid namespace, so the lock
// file, the device node and the kill lines never touch the machine.
class Sandbox final {
public:
    Sandbox();

    struct Result {
        int exitCode = -1;
        bool finished = false;
        QByteArray out;
        QByteArray err;
        qint64 elapsedMs = 0;
    };

    // Runs script with /bin/sh inside the sandbox, in the installation directory.
    Result run(const QString& script, int timeoutMs = 60000) const;

    QString installation() const { return dir.filePath("inst"); }
    QString path(const QString& name) const { return installation() + '/' + name; }
    QString scratch(const QString& name) const { return dir.filePath(name); }
    void writeFile(const QString& path, const QByteArray& content) const;
    QByteArray readFile(const QString& path) const;
    // A settings file with a complete client identity, the given extra lines in
    // [UPDATE] and the agent pointed at serverUrl.
    void writeSettings(const QString& serverUrl, const QByteArray& updateLines = {}) const;
    void setEnv(const QString& name, const QString& value) { environment.insert(name, value); }
    // The options for an /etc of the sandbox's own, the host's entries in it,
    // whose ld.so.preload loads library: the loader honours that file in a
    // set-user-id start, where it ignores LD_PRELOAD.
    QStringList etcPreloading(const QString& library) const;
    // Further bubblewrap options for the next runs, e.g. a size-limited tmpfs.
    void setMounts(const QStringList& options) { mounts = options; }

private:
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QStringList mounts;
};
