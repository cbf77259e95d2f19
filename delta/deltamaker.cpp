#include "delta/deltamaker.h"

#include "delta/deltafile.h"
#include "delta/elfdiff.h"
#include "delta/packagetree.h"
#include "delta/suffixdiff.h"
#include "delta/zstdlimits.h"

#include <QCryptographicHash>
#include <QFile>

#include <zstd.h>

#include <algorithm>
#include <bit>
#include <memory>

namespace {

using CompressContext = std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)>;

QByteArray readWhole(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One frame of data; with a prefix, long-distance matching over a window that
// holds the prefix and the data, as zstd's --patch-from does.
QByteArray compressFrame(const QByteArray& data, const QByteArray* prefix)
{
    const CompressContext context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, 19);
    int windowLog = maxDeltaWindowLog;
    if (prefix != nullptr) {
        const auto span = std::max<quint64>(quint64(prefix->size() + data.size()), 1024);
        windowLog = std::min(maxDeltaWindowLog, int(std::bit_width(span - 1)));
        ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1);
        ZSTD_CCtx_refPrefix(context.get(), prefix->constData(), size_t(prefix->size()));
    }
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, windowLog);
    QByteArray frame(qsizetype(ZSTD_compressBound(size_t(data.size()))), '\0');
    const size_t written = ZSTD_compress2(context.get(), frame.data(), size_t(frame.size()),
                                          data.constData(), size_t(data.size()));
    if (ZSTD_isError(written))
        return {};
    frame.truncate(qsizetype(written));
    return frame;
}

bool fitsWindow(const TreeEntry& base, const TreeEntry& file)
{
    return base.size + file.size <= (qint64(1) << maxDeltaWindowLog);
}

bool carriable(const QByteArray& text)
{
    return !text.isEmpty() && std::none_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
}

class DeltaBuilder final {
public:
    DeltaBuilder(const QString& baseRoot, const QString& newRoot, const PackageTree& base)
        : baseRoot(baseRoot), newRoot(newRoot), base(base)
    {
        manifest.baseDigest = treeDigest(base);
    }

    bool add(const TreeEntry& file)
    {
        if (file.link) {
            manifest.entries.append(DeltaEntry::link(file.path, file.target));
            return true;
        }
        const TreeEntry* old = findEntry(base, file.path);
        if (old != nullptr && !old->link && old->sha256 == file.sha256) {
            manifest.entries.append(
                DeltaEntry::file(DeltaEntry::Kind::Same, file.path, file.mode, 0, {}));
            return true;
        }
        const QByteArray content = readWhole(newRoot + '/' + QFile::decodeName(file.path));
        if (content.size() != file.size)
            return false;
        DeltaEntry entry =
            DeltaEntry::file(DeltaEntry::Kind::Full, file.path, file.mode, file.size, file.sha256);
        QByteArray frame = compressFrame(content, nullptr);
        const auto keepSmaller = [&entry, &frame](DeltaEntry::Kind kind, const QByteArray& bytes) {
            if (!bytes.isEmpty() && bytes.size() < frame.size()) {
                frame = bytes;
                entry.kind = kind;
            }
        };
        if (old != nullptr && !old->link && old->size <= maxSuffixBaseBytes) {
            const QByteArray prefix = readWhole(baseRoot + '/' + QFile::decodeName(old->path));
            if (fitsWindow(*old, file))
                keepSmaller(DeltaEntry::Kind::Patch, compressFrame(content, &prefix));
            keepSmaller(DeltaEntry::Kind::Diff, suffixDiff(prefix, content));
            if (old->size <= maxElfBaseBytes)
                keepSmaller(DeltaEntry::Kind::Elf, elfDiff(prefix, content));
        }
        if (frame.isEmpty())
            return false;
        entry.offset = payload.size();
        entry.length = frame.size();
        payload += frame;
        manifest.entries.append(entry);
        return true;
    }

    void addRemoved(const TreeEntry& old)
    {
        manifest.entries.append(DeltaEntry::removed(old.path));
    }

    QByteArray bytes() const { return deltaFileBytes(formatManifest(manifest), payload); }

private:
    QString baseRoot;
    QString newRoot;
    const PackageTree& base;
    DeltaManifest manifest;
    QByteArray payload;
};

} // namespace

std::optional<QByteArray> makeDelta(const QString& baseRoot, const QString& newRoot, QString& error)
{
    const std::optional<PackageTree> base = listPackageTree(baseRoot);
    const std::optional<PackageTree> updated = listPackageTree(newRoot);
    if (!base || !updated) {
        error = QStringLiteral("cannot read the unpacked packages");
        return std::nullopt;
    }
    DeltaBuilder builder(baseRoot, newRoot, *base);
    for (const TreeEntry& file : *updated) {
        if (!carriable(file.path) || (file.link && !carriable(file.target))) {
            error = QStringLiteral("a name or link target with a control character: %1")
                        .arg(QString::fromUtf8(file.path));
            return std::nullopt;
        }
        if (!builder.add(file)) {
            error = QStringLiteral("cannot compress %1").arg(QString::fromUtf8(file.path));
            return std::nullopt;
        }
    }
    for (const TreeEntry& old : *base) {
        if (findEntry(*updated, old.path) == nullptr && carriable(old.path))
            builder.addRemoved(old);
    }
    return builder.bytes();
}

QByteArray manifestDigest(const QByteArray& deltaBytes)
{
    const std::optional<DeltaFileParts> parts =
        splitDeltaFile(deltaBytes.left(maxManifestBytes + 64), deltaBytes.size());
    if (!parts)
        return {};
    return QCryptographicHash::hash(parts->manifest, QCryptographicHash::Sha256).toHex();
}
