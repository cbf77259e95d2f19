#include "base/installid.h"

#include "base/nofollowfile.h"
#include "base/syncdirectory.h"

#include <QSaveFile>

#include <openssl/rand.h>

#include <unistd.h>

namespace {

constexpr int idBytes = 16;

bool isIdText(const QByteArray& text)
{
    if (text.size() != 2 * idBytes)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

QByteArray readId(const QString& path)
{
    QFile file;
    if (!openRegularFileNoFollow(file, path))
        return {};
    const QByteArray text = file.read(2 * idBytes + 2).trimmed();
    return isIdText(text) ? text : QByteArray();
}

QByteArray newId()
{
    unsigned char bytes[idBytes];
    if (RAND_bytes(bytes, idBytes) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(bytes), idBytes).toHex();
}

bool writeId(const QString& basePath, const QString& path, const QByteArray& id)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    file.write(id + '\n');
    return ::fsync(file.handle()) == 0 && file.commit() && syncDirectory(basePath);
}

} // namespace

QByteArray installationId(const QString& basePath)
{
    const QString path = basePath + '/' + QLatin1String(installIdFileName);
    if (const QByteArray kept = readId(path); !kept.isEmpty())
        return kept;
    const QByteArray id = newId();
    if (id.isEmpty() || !writeId(basePath, path, id))
        return {};
    return id;
}
