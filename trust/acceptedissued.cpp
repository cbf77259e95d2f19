#include "trust/acceptedissued.h"

#include "base/syncdirectory.h"
#include "trust/utctime.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

AcceptedIssued::AcceptedIssued(const QString& basePath)
    : path_(basePath + QStringLiteral("/update-issued"))
{
    QFile file(path_);
    if (!file.exists())
        return;
    state_ = State::Unreadable;
    if (!file.open(QIODevice::ReadOnly))
        return;
    if (const std::optional<qint64> issued =
            parseUtcTime(QString::fromLatin1(file.read(64)).trimmed())) {
        state_ = State::Known;
        seconds_ = *issued;
    }
}

bool AcceptedIssued::record(qint64 issued)
{
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    file.write(formatUtcTime(issued).toLatin1() + '\n');
    // commit() syncs the data before it renames the file into place.
    if (!file.commit() || !syncDirectory(QFileInfo(path_).absolutePath()))
        return false;
    state_ = State::Known;
    seconds_ = issued;
    return true;
}
