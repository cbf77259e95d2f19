#include "software/installjournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

bool writeWhole(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.commit();
}

} // namespace

InstallJournal::InstallJournal(QString basePath) : basePath(std::move(basePath)) {}

bool InstallJournal::exists() const
{
    return QFileInfo(dir()).isDir();
}

InstallJournal::Phase InstallJournal::phase() const
{
    QFile file(dir() + phaseFile);
    if (!file.open(QIODevice::ReadOnly))
        return Phase::None;
    const QByteArray content = file.readAll();
    for (const Phase later : {Phase::Copied, Phase::HookStarted, Phase::Watching}) {
        if (content == phaseName(later))
            return later;
    }
    // Anything else that got this far means the backup was complete.
    return Phase::BackedUp;
}

bool InstallJournal::create() const
{
    return QDir().mkpath(dir());
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
    return QDir().mkpath(dir()) && writeWhole(listPath(name), content);
}

FileNames InstallJournal::readList(const char* name) const
{
    QFile file(listPath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    FileNames names = file.readAll().split('\0');
    names.removeAll(QByteArray());
    return names;
}
