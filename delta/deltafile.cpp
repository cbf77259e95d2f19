#include "delta/deltafile.h"

#include "base/sha256.h"

#include <QSet>

#include <zstd.h>

#include <algorithm>

namespace {

constexpr char headerPrefix[] = "cmupdater-delta 1 ";

const char* kindName(DeltaEntry::Kind kind)
{
    switch (kind) {
    case DeltaEntry::Kind::Same:
        return "same";
    case DeltaEntry::Kind::Patch:
        return "patch";
    case DeltaEntry::Kind::Diff:
        return "diff";
    case DeltaEntry::Kind::Elf:
        return "elf";
    case DeltaEntry::Kind::Full:
        return "full";
    case DeltaEntry::Kind::Link:
        return "link";
    case DeltaEntry::Kind::Removed:
        break;
    }
    return "removed";
}

bool hasControlByte(const QByteArray& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

bool isSafeRelativePath(const QByteArray& path)
{
    if (path.isEmpty() || hasControlByte(path))
        return false;
    const QList<QByteArray> parts = path.split('/');
    return std::none_of(parts.begin(), parts.end(), [](const QByteArray& part) {
        return part.isEmpty() || part == "." || part == "..";
    });
}

std::optional<qint64> number(const QByteArray& text, int base = 10)
{
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, base);
    return ok && value >= 0 &&
                   std::all_of(text.begin(), text.end(),
                               [base](char c) {
                                   return (c >= '0' && c <= '7') ||
                                          (base == 10 && (c == '8' || c == '9'));
                               })
               ? std::optional<qint64>(value)
               : std::nullopt;
}

std::optional<DeltaEntry> fileEntry(DeltaEntry::Kind kind, const QList<QByteArray>& fields,
                                    qint64 payloadSize)
{
    if (fields.size() != 7)
        return std::nullopt;
    const std::optional<qint64> mode = number(fields[1], 8);
    const std::optional<qint64> size = number(fields[2]);
    const std::optional<qint64> offset = number(fields[4]);
    const std::optional<qint64> length = number(fields[5]);
    if (!mode || *mode > 07777 || !size || !isSha256Text(QString::fromLatin1(fields[3])) ||
        !offset || !length || *offset > payloadSize || *length > payloadSize - *offset)
        return std::nullopt;
    DeltaEntry entry = DeltaEntry::file(kind, fields[6], mode_t(*mode), *size, fields[3]);
    entry.offset = *offset;
    entry.length = *length;
    return entry;
}

std::optional<DeltaEntry> sameEntry(const QList<QByteArray>& fields)
{
    const std::optional<qint64> mode = fields.size() == 3 ? number(fields[1], 8) : std::nullopt;
    if (!mode || *mode > 07777)
        return std::nullopt;
    return DeltaEntry::file(DeltaEntry::Kind::Same, fields[2], mode_t(*mode), 0, {});
}

std::optional<DeltaEntry> parseEntry(const QByteArray& line, qint64 payloadSize)
{
    const QList<QByteArray> fields = line.split('\t');
    const QByteArray& kind = fields[0];
    std::optional<DeltaEntry> entry;
    if (kind == "patch")
        entry = fileEntry(DeltaEntry::Kind::Patch, fields, payloadSize);
    else if (kind == "diff")
        entry = fileEntry(DeltaEntry::Kind::Diff, fields, payloadSize);
    else if (kind == "elf")
        entry = fileEntry(DeltaEntry::Kind::Elf, fields, payloadSize);
    else if (kind == "full")
        entry = fileEntry(DeltaEntry::Kind::Full, fields, payloadSize);
    else if (kind == "same")
        entry = sameEntry(fields);
    else if (kind == "link" && fields.size() == 3 && !fields[1].isEmpty() &&
             !hasControlByte(fields[1]))
        entry = DeltaEntry::link(fields[2], fields[1]);
    else if (kind == "removed" && fields.size() == 2)
        entry = DeltaEntry::removed(fields[1]);
    if (!entry || !isSafeRelativePath(entry->path))
        return std::nullopt;
    return entry;
}

// Every name made at most once, and none below a file or link that is made:
// writing below a link would write wherever it points.
bool namesConsistent(const QList<DeltaEntry>& entries)
{
    QSet<QByteArray> made;
    for (const DeltaEntry& entry : entries) {
        if (entry.kind != DeltaEntry::Kind::Removed)
            made.insert(entry.path);
    }
    qsizetype count = 0;
    for (const DeltaEntry& entry : entries) {
        if (entry.kind == DeltaEntry::Kind::Removed)
            continue;
        ++count;
        for (qsizetype slash = entry.path.indexOf('/'); slash >= 0;
             slash = entry.path.indexOf('/', slash + 1)) {
            if (made.contains(entry.path.left(slash)))
                return false;
        }
    }
    return count == made.size();
}

} // namespace

DeltaEntry DeltaEntry::file(Kind kind, const QByteArray& path, mode_t mode, qint64 size,
                            const QByteArray& sha256)
{
    DeltaEntry entry;
    entry.kind = kind;
    entry.path = path;
    entry.mode = mode;
    entry.size = size;
    entry.sha256 = sha256;
    return entry;
}

DeltaEntry DeltaEntry::link(const QByteArray& path, const QByteArray& target)
{
    DeltaEntry entry;
    entry.kind = Kind::Link;
    entry.path = path;
    entry.target = target;
    return entry;
}

DeltaEntry DeltaEntry::removed(const QByteArray& path)
{
    DeltaEntry entry;
    entry.kind = Kind::Removed;
    entry.path = path;
    return entry;
}

QByteArray formatManifest(const DeltaManifest& manifest)
{
    QByteArray text = "base\t" + manifest.baseDigest + '\n';
    for (const DeltaEntry& entry : manifest.entries) {
        text += kindName(entry.kind);
        text += '\t';
        switch (entry.kind) {
        case DeltaEntry::Kind::Same:
            text += QByteArray::number(entry.mode, 8) + '\t';
            break;
        case DeltaEntry::Kind::Patch:
        case DeltaEntry::Kind::Diff:
        case DeltaEntry::Kind::Elf:
        case DeltaEntry::Kind::Full:
            text += QByteArray::number(entry.mode, 8) + '\t' + QByteArray::number(entry.size) +
                    '\t' + entry.sha256 + '\t' + QByteArray::number(entry.offset) + '\t' +
                    QByteArray::number(entry.length) + '\t';
            break;
        case DeltaEntry::Kind::Link:
            text += entry.target + '\t';
            break;
        case DeltaEntry::Kind::Removed:
            break;
        }
        text += entry.path + '\n';
    }
    return text;
}

QByteArray deltaFileBytes(const QByteArray& manifest, const QByteArray& payload)
{
    // Mostly digests and names: compressed, it costs a minor release half as much.
    QByteArray stored(qsizetype(ZSTD_compressBound(size_t(manifest.size()))), '\0');
    stored.truncate(qsizetype(ZSTD_compress(stored.data(), size_t(stored.size()),
                                            manifest.constData(), size_t(manifest.size()), 19)));
    return headerPrefix + QByteArray::number(stored.size()) + '\n' + stored + payload;
}

std::optional<DeltaFileParts> splitDeltaFile(const QByteArray& head, qint64 fileSize)
{
    const qsizetype end = head.indexOf('\n');
    if (!head.startsWith(headerPrefix) || end < 0)
        return std::nullopt;
    const std::optional<qint64> length =
        number(head.mid(sizeof headerPrefix - 1, end - qsizetype(sizeof headerPrefix - 1)));
    const qint64 start = end + 1;
    if (!length || *length > maxManifestBytes || start + *length > head.size() ||
        start + *length > fileSize)
        return std::nullopt;
    return DeltaFileParts{head.mid(start, *length), start + *length};
}

std::optional<DeltaManifest> parseManifest(const QByteArray& stored, qint64 payloadSize)
{
    const unsigned long long size =
        ZSTD_getFrameContentSize(stored.constData(), size_t(stored.size()));
    if (size > quint64(maxManifestBytes)) // also the error values
        return std::nullopt;
    QByteArray text(qsizetype(size), '\0');
    const size_t made = ZSTD_decompress(text.data(), size_t(text.size()), stored.constData(),
                                        size_t(stored.size()));
    if (made != size || !text.endsWith('\n'))
        return std::nullopt;
    QList<QByteArray> lines = text.chopped(1).split('\n');
    const QByteArray baseLine = lines.takeFirst();
    if (!baseLine.startsWith("base\t") || lines.size() > maxDeltaEntries)
        return std::nullopt;
    DeltaManifest manifest{baseLine.mid(5), {}};
    if (!isSha256Text(QString::fromLatin1(manifest.baseDigest)))
        return std::nullopt;
    for (const QByteArray& line : std::as_const(lines)) {
        const std::optional<DeltaEntry> entry = parseEntry(line, payloadSize);
        if (!entry)
            return std::nullopt;
        manifest.entries.append(*entry);
    }
    if (!namesConsistent(manifest.entries))
        return std::nullopt;
    return manifest;
}
