#include "software/installjournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <utility>

namespace {

constexpr char phaseFile[] = "/phase";

QByteArray phaseName(InstallJournal::Phase phase)
{
    switch (phase) {
    case InstallJournal::Phase::Copied:
        return "copied\n";
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
    if (content == phaseName(Phase::Copied))
        return Phase::Copied;
    if (content == phaseName(Phase::Watching))
        return Phase::Watching;
    // Anything else that got this far means the backup was complete.
    return Phase::BackedUp;
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
