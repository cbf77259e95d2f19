#include "delta/deltarebuild.h"

#include "delta/deltafile.h"
#include "delta/elfpatch.h"
#include "delta/packagetree.h"
#include "delta/suffixpatch.h"
#include "delta/zstdlimits.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <zstd.h>
#include <zstd_errors.h>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

using Outcome = RebuildResult::Outcome;
using DecompressContext = std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)>;

// A file mapped read-only and private, so the bytes checked are the bytes used.
class MappedFile final {
public:
    explicit MappedFile(const QByteArray& path)
    {
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info {};
        if (fd < 0)
            return;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
            size = info.st_size;
            valid = true;
            if (size > 0) {
                void* mapped = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
                valid = mapped != MAP_FAILED;
                data = valid ? static_cast<const char*>(mapped) : nullptr;
            }
        }
        ::close(fd);
    }
    ~MappedFile()
    {
        if (data != nullptr)
            ::munmap(const_cast<char*>(data), size_t(size));
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    QByteArrayView bytes(qint64 offset = 0, qint64 length = -1) const
    {
        return QByteArrayView(data + offset, length < 0 ? size - offset : length);
    }

    const char* data = nullptr;
    qint64 size = 0;
    bool valid = false;
};

RebuildResult refused(const QString& reason)
{
    return {Outcome::Refused, reason};
}

RebuildResult mismatch(const QString& reason)
{
    return {Outcome::BaseMismatch, reason};
}

QString name(const QByteArray& path)
{
    return QFile::decodeName(path);
}

// The directories above a name, made inside root; every one must be a real
// directory, never a link.
bool makeParents(const QByteArray& root, const QByteArray& path)
{
    for (qsizetype slash = path.indexOf('/'); slash >= 0; slash = path.indexOf('/', slash + 1)) {
        const QByteArray dir = root + '/' + path.left(slash);
        if (::mkdir(dir.constData(), 0755) == 0)
            continue;
        struct stat info {};
        if (errno != EEXIST || ::lstat(dir.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            return false;
    }
    return true;
}

// What a rebuild may write: a delta stands for its package, which it may not
// outgrow by much, and the installation's file system keeps some room.
qint64 writeBound(qint64 packageSize, const QString& outputRoot)
{
    constexpr qint64 spareBytes = 10 * 1024 * 1024;
    // Low enough that four times it still fits: a huge declared Size must not wrap.
    constexpr qint64 ceiling = qint64(1) << 60;
    struct statvfs disk {};
    const QByteArray parent = QFile::encodeName(QFileInfo(outputRoot).absolutePath());
    if (packageSize <= 0 || ::statvfs(parent.constData(), &disk) != 0)
        return 0;
    const qint64 free = qint64(qMin(quint64(disk.f_bavail) * disk.f_frsize, quint64(ceiling)));
    return qMin(qMin(packageSize, ceiling) * 4, free - spareBytes);
}

// The bytes the manifest declares it makes, until they pass bound; each size
// has at most 18 digits, so the sum cannot overflow on the way.
qint64 declaredBytes(const DeltaManifest& manifest, const PackageTree& base, qint64 bound)
{
    qint64 total = 0;
    for (const DeltaEntry& entry : manifest.entries) {
        if (entry.kind == DeltaEntry::Kind::Same) {
            const TreeEntry* listed = findEntry(base, entry.path);
            total += listed != nullptr ? listed->size : 0;
        } else if (entry.kind != DeltaEntry::Kind::Link &&
                   entry.kind != DeltaEntry::Kind::Removed) {
            total += entry.size;
        }
        if (total > bound)
            break;
    }
    return total;
}

class FileDecoder final {
public:
    FileDecoder() : context(ZSTD_createDCtx(), ZSTD_freeDCtx)
    {
        ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, maxDeltaWindowLog);
    }

    // Writes bytes to fd as they are, hashing them.
    bool copy(QByteArrayView bytes, int fd)
    {
        written += bytes.size();
        hash.addData(bytes);
        return ::write(fd, bytes.data(), size_t(bytes.size())) == ssize_t(bytes.size());
    }

    // Decodes one frame into fd, hashing what it writes; the result is
    // Rebuilt when the frame was sound, whatever it made.
    RebuildResult decode(QByteArrayView frame, const MappedFile* prefix, const DeltaEntry& entry,
                         int fd)
    {
        ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_only);
        if (prefix != nullptr && prefix->size > 0)
            ZSTD_DCtx_refPrefix(context.get(), prefix->data, size_t(prefix->size));
        ZSTD_inBuffer input{frame.data(), size_t(frame.size()), 0};
        size_t pending = 1;
        while (pending != 0) {
            ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
            pending = ZSTD_decompressStream(context.get(), &output, &input);
            if (ZSTD_isError(pending))
                return refused(frameError(pending, entry));
            written += qint64(output.pos);
            if (written > entry.size)
                return refused(QStringLiteral("%1 grows past its size").arg(name(entry.path)));
            hash.addData(QByteArrayView(buffer.data(), qsizetype(output.pos)));
            if (::write(fd, buffer.data(), output.pos) != ssize_t(output.pos))
                return mismatch(QStringLiteral("%1 cannot be written").arg(name(entry.path)));
            if (pending != 0 && input.pos == input.size && output.pos < output.size)
                return refused(QStringLiteral("%1 is cut short").arg(name(entry.path)));
        }
        if (input.pos != input.size)
            return refused(QStringLiteral("%1 has bytes after its frame").arg(name(entry.path)));
        return {Outcome::Rebuilt, {}};
    }

    // Makes the file a suffix difference describes from old into fd.
    RebuildResult patch(QByteArrayView payload, QByteArrayView old, const DeltaEntry& entry, int fd)
    {
        const SuffixPatchResult made = applySuffixDiff(
            old, payload, entry.size, [this, fd](QByteArrayView piece) { return copy(piece, fd); });
        switch (made.outcome) {
        case SuffixPatchResult::Outcome::Made:
            return {Outcome::Rebuilt, {}};
        case SuffixPatchResult::Outcome::WriteFailed:
            return mismatch(QStringLiteral("%1 cannot be written").arg(name(entry.path)));
        case SuffixPatchResult::Outcome::Corrupt:
            break;
        }
        return refused(QStringLiteral("%1 is corrupt (%2)").arg(name(entry.path), made.reason));
    }

    bool matches(qint64 size, const QByteArray& sha256) const
    {
        return written == size && hash.result().toHex() == sha256;
    }

private:
    static QString frameError(size_t code, const DeltaEntry& entry)
    {
        if (ZSTD_getErrorCode(code) == ZSTD_error_frameParameter_windowTooLarge)
            return QStringLiteral("%1 asks for more memory than allowed").arg(name(entry.path));
        return QStringLiteral("%1 is corrupt (%2)")
            .arg(name(entry.path), QString::fromUtf8(ZSTD_getErrorName(code)));
    }

    DecompressContext context;
    std::array<char, 64 * 1024> buffer{};
    QCryptographicHash hash{QCryptographicHash::Sha256};
    qint64 written = 0;
};

class Rebuild final {
public:
    Rebuild(const MappedFile& delta, qint64 payloadOffset, const QString& baseRoot,
            const PackageTree& base, const QString& outputRoot)
        : delta(delta), payloadOffset(payloadOffset), baseRoot(QFile::encodeName(baseRoot)),
          base(base), root(QFile::encodeName(outputRoot))
    {
    }

    RebuildResult run(const DeltaManifest& manifest, qint64 bound)
    {
        // Each file is held to its declared size as it is written, so the
        // declared sum bounds the whole rebuild before a byte is written.
        if (declaredBytes(manifest, base, bound) > bound)
            return refused(
                QStringLiteral("declares more than the %1 bytes it may write").arg(bound));
        // A work directory: only the updater may look into it.
        if (::mkdir(root.constData(), 0700) != 0)
            return mismatch(QStringLiteral("cannot make %1").arg(name(root)));
        // Links last: no file is ever written through one.
        for (const DeltaEntry& entry : manifest.entries) {
            if (entry.kind != DeltaEntry::Kind::Link && entry.kind != DeltaEntry::Kind::Removed) {
                if (const RebuildResult result = makeFile(entry);
                    result.outcome != Outcome::Rebuilt)
                    return result;
            }
        }
        for (const DeltaEntry& entry : manifest.entries) {
            if (entry.kind == DeltaEntry::Kind::Link &&
                (!makeParents(root, entry.path) ||
                 ::symlink(entry.target.constData(), (root + '/' + entry.path).constData()) != 0))
                return mismatch(QStringLiteral("cannot make the link %1").arg(name(entry.path)));
        }
        return {Outcome::Rebuilt, {}};
    }

private:
    // An unchanged file is the base's, whose content the tree digest covers.
    RebuildResult makeFile(const DeltaEntry& entry)
    {
        std::unique_ptr<MappedFile> old;
        const TreeEntry* listed = findEntry(base, entry.path);
        if (entry.kind != DeltaEntry::Kind::Full) {
            if (listed == nullptr || listed->link)
                return refused(
                    QStringLiteral("%1 refers to a file the base lacks").arg(name(entry.path)));
            old = std::make_unique<MappedFile>(baseRoot + '/' + entry.path);
            if (!old->valid ||
                (entry.kind == DeltaEntry::Kind::Same && old->size != listed->size) ||
                (entry.kind == DeltaEntry::Kind::Patch &&
                 old->size > (qint64(1) << maxDeltaWindowLog)))
                return mismatch(
                    QStringLiteral("%1 of the base cannot be read").arg(name(entry.path)));
        }
        // An ELF difference reads the base's headers and predicts its
        // references first: a base or map it does not understand is refused
        // before anything is made.
        std::optional<PreparedElfPatch> elf;
        const QByteArrayView payload = delta.bytes(payloadOffset + entry.offset, entry.length);
        if (entry.kind == DeltaEntry::Kind::Elf) {
            QString why;
            elf = prepareElfPatch(old->bytes(), payload, why);
            if (!elf)
                return refused(QStringLiteral("%1 is corrupt (%2)").arg(name(entry.path), why));
        }
        const QByteArray path = root + '/' + entry.path;
        const int fd = makeParents(root, entry.path)
                           ? ::open(path.constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                           : -1;
        if (fd < 0)
            return mismatch(QStringLiteral("cannot make %1").arg(name(entry.path)));
        FileDecoder maker;
        RebuildResult result{Outcome::Rebuilt, {}};
        const bool same = entry.kind == DeltaEntry::Kind::Same;
        if (same && !maker.copy(old->bytes(), fd))
            result = mismatch(QStringLiteral("%1 cannot be written").arg(name(entry.path)));
        else if (entry.kind == DeltaEntry::Kind::Diff)
            result = maker.patch(payload, old->bytes(), entry, fd);
        else if (entry.kind == DeltaEntry::Kind::Elf)
            result = maker.patch(elf->difference, elf->predicted, entry, fd);
        else if (!same)
            result = maker.decode(payload, old.get(), entry, fd);
        // No set-user-id or set-group-id bits, and writable by the owner
        // alone: a publisher's 0666 must not reach a root installation.
        const bool closed = ::fchmod(fd, entry.mode & 0755) == 0 && ::close(fd) == 0;
        const bool matches = same ? maker.matches(listed->size, listed->sha256)
                                  : maker.matches(entry.size, entry.sha256);
        if (result.outcome == Outcome::Rebuilt && (!closed || !matches))
            result = mismatch(QStringLiteral("%1 does not match its SHA256").arg(name(entry.path)));
        return result;
    }

    const MappedFile& delta;
    qint64 payloadOffset;
    QByteArray baseRoot;
    const PackageTree& base;
    QByteArray root;
};

} // namespace

RebuildResult rebuildFromDelta(const QString& deltaPath, const DeltaExpectation& expected,
                               const QString& baseRoot, const QString& outputRoot)
{
    const MappedFile delta(QFile::encodeName(deltaPath));
    if (!delta.valid)
        return refused(QStringLiteral("cannot be read"));
    if (QCryptographicHash::hash(delta.bytes(), QCryptographicHash::Sha256).toHex() !=
        expected.sha256)
        return refused(QStringLiteral("SHA256 mismatch"));
    const std::optional<DeltaFileParts> parts = splitDeltaFile(
        delta.bytes(0, qMin(delta.size, maxManifestBytes + 64)).toByteArray(), delta.size);
    if (!parts || QCryptographicHash::hash(parts->manifest, QCryptographicHash::Sha256).toHex() !=
                      expected.manifestDigest)
        return refused(QStringLiteral("manifest mismatch"));
    const std::optional<DeltaManifest> manifest =
        parseManifest(parts->manifest, delta.size - parts->payloadOffset);
    if (!manifest)
        return refused(QStringLiteral("malformed or unsafe manifest"));
    const std::optional<PackageTree> base = listPackageTree(baseRoot);
    if (!base || treeDigest(*base) != manifest->baseDigest)
        return mismatch(QStringLiteral("the installed base is not the delta's"));
    return Rebuild(delta, parts->payloadOffset, baseRoot, *base, outputRoot)
        .run(*manifest, writeBound(expected.packageSize, outputRoot));
}
