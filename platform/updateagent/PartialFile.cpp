#include "PartialFile.h"

#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace updateagent {

namespace {

constexpr qint64 LongestIdentity = 1024;
constexpr qsizetype LongestValidator = 256;
constexpr qsizetype LongestSizeDigits = 15;

std::optional<qint64> sizeFrom(const QByteArray& text, bool& ok)
{
    if (text.isEmpty())
        return std::nullopt;
    ok = text.size() <= LongestSizeDigits &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    return text.toLongLong();
}

bool isPrintable(const QByteArray& text)
{
    return text.size() <= LongestValidator &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

} // namespace

PartialFile::PartialFile(const QString& target)
    : target_(target), dataPath_(target + QStringLiteral(".part")),
      identityPath_(target + QStringLiteral(".part.id"))
{
}

std::optional<PartIdentity> PartialFile::storedIdentity() const
{
    QFile file(identityPath_);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseIdentity(file.read(LongestIdentity + 1));
}

bool PartialFile::remember(const PartIdentity& identity) const
{
    QSaveFile file(identityPath_);
    return file.open(QIODevice::WriteOnly) && file.write(identityText(identity)) >= 0 &&
           file.commit();
}

void PartialFile::forget() const
{
    QFile::remove(identityPath_);
}

void PartialFile::discard() const
{
    // The identity first: bytes without one are never continued.
    forget();
    QFile::remove(dataPath_);
}

QByteArray identityText(const PartIdentity& identity)
{
    const QByteArray size = identity.size ? QByteArray::number(*identity.size) : QByteArray();
    return "size=" + size + "\nmd5=" + identity.md5 +
           "\nvalidator=" + QByteArray::fromStdString(identity.validator) + '\n';
}

std::optional<PartIdentity> parseIdentity(const QByteArray& text)
{
    static const QRegularExpression md5Hex(QStringLiteral("^([0-9a-f]{32})?$"));
    QList<QByteArray> lines = text.split('\n');
    if (text.size() > LongestIdentity || lines.size() != 4 || !lines[3].isEmpty() ||
        !lines[0].startsWith("size=") || !lines[1].startsWith("md5=") ||
        !lines[2].startsWith("validator="))
        return std::nullopt;
    PartIdentity identity;
    bool ok = true;
    identity.size = sizeFrom(lines[0].mid(5), ok);
    identity.md5 = lines[1].mid(4);
    const QByteArray validator = lines[2].mid(10);
    if (!ok || !md5Hex.match(QString::fromLatin1(identity.md5)).hasMatch() ||
        !isPrintable(validator))
        return std::nullopt;
    identity.validator = validator.toStdString();
    return identity;
}

} // namespace updateagent
