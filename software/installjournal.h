#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// File names as the file system holds them: bytes, whatever their encoding.
using FileNames = QList<QByteArray>;

// The on-disk record of one software install, kept in its own work directory
// under the installation: the lists of what the package replaces and adds, and
// how far the run got. A start that finds it puts the installation back or
// finishes the install.
class InstallJournal final {
public:
    enum class Phase {
        None,     // nothing of the installation replaced yet
        BackedUp, // backup and lists on disk; the copy may have begun
        Copied,   // the package is completely in place
        // The package's hook was started: whatever became of it, it is not
        // started a second time.
        HookStarted,
        Watching, // in place and started; the backup stays until it has shown that it runs
    };

    explicit InstallJournal(QString basePath);

    QString dir() const { return basePath + QLatin1String("/.install_journal"); }
    QString listPath(const char* name) const { return dir() + '/' + QLatin1String(name); }
    bool exists() const;
    // The empty journal directory, before anything is saved: a start that
    // finds it knows that nothing saved yet is to be put back.
    bool create() const;

    Phase phase() const;
    // A recovery that had to keep the backup says so, so that only the boot's
    // recovery tries again, not every start of the connection manager.
    bool markRecoveryFailed() const;
    bool recoveryFailed() const;
    // Written whole and synced; the caller syncs the directory.
    bool setPhase(Phase phase) const;

    // NUL-separated, so any name survives. A list that is not the updater's
    // own, or holds a name that may not be acted on, reads as empty.
    bool writeList(const char* name, const FileNames& names) const;
    FileNames readList(const char* name) const;

    // Why the journal on disk may not be acted on (see journalcheck.h), or a
    // name in a list reaches through a link the package brought; empty when it may.
    QByteArray refusal() const;

private:
    QString basePath;
};
