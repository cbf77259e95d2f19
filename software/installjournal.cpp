#include "software/installjournal.h"

#include "software/journalcheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <cerrno>
#include <sys/stat.h>
#include <utility>

namespace {

constexpr char phaseFile[] = "/phase";
constexpr char recoveryFailedFile[] = "/recovery-failed";

QByteArray phaseName(InstallJournal::Phase phase)
{
    switch (phase) {
    case InstallJournal::Phase::Copied:
        return "copied\n";
    case InstallJournal::Phase::HookStarted:
        return "hook-started\n";
    case InstallJournal::Phase::Watching:
        return "watching\n";
    case InstallJournal::Phase::None:
    case InstallJournal::Phase::BackedUp:
        break;
    }
    return "backed-up\n";
}

// Only the updater reads its journal back: 0600 whatever the umask.
bool writeWhole(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
           file.write(content) == content.size() && file.commit();
}

bool makePrivateDirectory(const QString& dir)
{
    return ::mkdir(QFile::encodeName(dir).constData(), 0700) == 0 || errno == EEXIST;
}

// Every name ends with a NUL, so the last piece of a split is empty.
FileNames splitNames(const QByteArray& content)
{
    FileNames names = content.split('\0');
    if (names.last().isEmpty())
        names.removeLast();
    return names;
}

QByteArray namesRefusal(const FileNames& names)
{
    for (const QByteArray& name : names) {
        if (QByteArray refusal = listedNameRefusal(name); !refusal.isEmpty())
            return refusal;
    }
    return {};
}

bool isLink(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

// A package's links are listed as links and never entered, so a name below a
// listed name that is a link in the installation reaches through a link the
// package brought: a journal written by this updater never has one. A link
// the installation had of its own (a "Data" kept elsewhere) is not listed.
QByteArray throughListedLink(const FileNames& names, const QByteArray& base)
{
    const QSet<QByteArray> listed(names.cbegin(), names.cend());
    for (const QByteArray& name : names) {
        for (qsizetype slash = name.indexOf('/'); slash > 0; slash = name.indexOf('/', slash + 1)) {
            const QByteArray parent = name.left(slash);
            if (listed.contains(parent) && isLink(base + '/' + parent))
                return "a name through the package's link " + parent;
        }
    }
    return {};
}

} // namespace

InstallJournal::InstallJournal(QString basePath) : basePath(std::move(basePath)) {}

bool InstallJournal::exists() const
{
    return QFileInfo(dir()).isDir();
}

InstallJournal::Phase InstallJournal::phase() const
{
    const std::optional<QByteArray> content = readStateFile(dir() + phaseFile);
    if (!content)
        return Phase::None;
    for (const Phase later : {Phase::Copied, Phase::HookStarted, Phase::Watching}) {
        if (*content == phaseName(later))
            return later;
    }
    // Anything else that got this far means the backup was complete.
    return Phase::BackedUp;
}

bool InstallJournal::create() const
{
    return makePrivateDirectory(dir());
}

bool InstallJournal::markRecoveryFailed() const
{
    return exists() && writeWhole(dir() + recoveryFailedFile, "failed\n");
}

bool InstallJournal::recoveryFailed() const
{
    return QFileInfo::exists(dir() + recoveryFailedFile);
}

bool InstallJournal::setPhase(Phase phase) const
{
    if (phase == Phase::None)
        return QFile::remove(dir() + phaseFile) || !QFileInfo::exists(dir() + phaseFile);
    return writeWhole(dir() + phaseFile, phaseName(phase));
}

bool InstallJournal::writeList(const char* name, const FileNames& names) const
{
    QByteArray content;
    for (const QByteArray& entry : names)
        content += entry + '\0';
    return makePrivateDirectory(dir()) && writeWhole(listPath(name), content);
}

FileNames InstallJournal::readList(const char* name) const
{
    const std::optional<QByteArray> content = readStateFile(listPath(name));
    const FileNames names = content ? splitNames(*content) : FileNames();
    return namesRefusal(names).isEmpty() ? names : FileNames();
}

QByteArray InstallJournal::refusal() const
{
    if (const QByteArray refusal = stateFileRefusal(dir(), true); !refusal.isEmpty())
        return refusal;
    FileNames all;
    const QStringList entries = QDir(dir()).entryList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QString path = dir() + '/' + entry;
        if (const QByteArray refusal = stateFileRefusal(path); !refusal.isEmpty())
            return refusal;
        const std::optional<QByteArray> content = readStateFile(path);
        if (!content)
            return QFile::encodeName(path) + ": unreadable";
        // The phase is one word; every other file is a list of names.
        if (path.endsWith(QLatin1String(phaseFile)))
            continue;
        const FileNames names = splitNames(*content);
        if (const QByteArray refusal = namesRefusal(names); !refusal.isEmpty())
            return QFile::encodeName(path) + ": " + refusal;
        all += names;
    }
    return throughListedLink(all, QFile::encodeName(basePath));
}
