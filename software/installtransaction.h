#pragma once

#include "base/installation.h"
#include "software/installjournal.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>

class PackageFiles;

// The connection manager's private data files, under "/Data".
inline constexpr const char* privateDataFiles[] = {"/contact.xml",        "/sms.xml",
                                                   "/historyRecord.xml",  "/networkrc.xml",
                                                   "/defaultRecord.conf", "/totalRecord.conf"};

// A software install as a transaction over the installation directory. The
// backup of everything the package replaces, the private data and the journal
// are on disk before the first installed file is replaced; the journal's phase
// says whether an interrupted run is to be rolled back or finished, and every
// step can be run again after a crash in the middle of it.
class InstallTransaction final {
public:
    InstallTransaction(QString basePath, PackageFiles& files,
                       std::chrono::seconds hookTime = defaultHookTime);

    // The backup of an earlier install still waits to be put back.
    bool pending() const { return journal.exists(); }
    // The top-level names a package may not bring: the updater's own.
    static QSet<QByteArray> reservedNames(const QString& packageFilename);
    // Why the unpacked package is refused; empty when it may be installed.
    QByteArray refusal(const QString& packageFilename) const;
    bool savePrivateData();
    // The backup and the journal, synced to disk.
    bool backUp();
    // A new version that must show that it runs before its backup goes: the
    // copy is recorded as watched, and a start that finds it so rolls it back.
    void setWatched(bool watched) { this->watched = watched; }
    // The package over the installation, recorded as complete once it is on disk.
    bool replace();
    // Removes what the package added and puts back what it replaced.
    bool rollBack();
    // Puts the saved private data back into "/Data"; true when none was saved.
    // A copy that could not be put back stays for the next start, with the
    // journal that asks for it.
    bool restorePrivateData();
    // Runs the package's "/finish.sh" once, recorded in the journal before it
    // starts, stopped with whatever it started when it runs longer than the
    // hook time, then removes it.
    void runHook();
    // Once the private data are back in "/Data" for a watched version: the
    // copy goes, so that a roll-back keeps what the user has by then.
    void dropPrivateDataCopy();
    // The watched version has shown that it runs: a later start finishes it
    // instead of putting it back, and the backup goes. Private data not yet put
    // back keep their copy and the journal that asks for them.
    void keepWatched(bool privateDataPending);
    // Ends the transaction: the journal's phase first, then the work
    // directories and the package file. With keepBackup the backup, the
    // private data copy and the journal stay for the next start.
    void close(const QString& packagePath, bool keepBackup,
               const std::function<void(int)>& progress = {});

    // Refused is never recover's: the journal was not trusted enough to run it.
    enum class Recovery { CleanedUp, RolledBack, Completed, BackupKept, Refused };
    // Puts an interrupted install back, or finishes it when its copy had ended
    // (with the set-user-id bit on the connection manager cmName); a watched
    // version is put back. First of all it puts back the private data of a
    // run that left no journal.
    Recovery recover(const QString& cmName);
    // Whether the program name may be started: the install was completed, or
    // name is the one from before it.
    bool programIntact(const QString& name) const;

private:
    QString path(const char* name) const { return basePath + QLatin1String(name); }
    // The journal says that the new version is completely in place.
    bool installed() const;
    // Turns a watched install into one that is rolled back like an unfinished
    // copy, the private data as they are now saved for it.
    bool withdraw();

    QString basePath;
    PackageFiles& files;
    InstallJournal journal;
    std::chrono::seconds hookTime;
    bool privateDataKept = false;
    bool watched = false;
};
