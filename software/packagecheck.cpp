#include "software/packagecheck.h"

#include "base/shell.h"
#include "packages/plainfilename.h"
#include "software/installtransaction.h"
#include "software/packagefiles.h"

#include <QFile>
#include <QHash>
#include <QStorageInfo>

#include <climits>
#include <sys/stat.h>
#include <zip.h>

namespace {

QString zipErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromLocal8Bit(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

// Reads the member to its end, where libzip compares the CRC; a link's
// target is kept, any other content is only read.
bool readMember(zip_t* archive, zip_uint64_t index, PackageMember& member, QString& error)
{
    zip_file_t* file = zip_fopen_index(archive, index, 0);
    if (file == nullptr) {
        error = QString::fromLocal8Bit(zip_strerror(archive));
        return false;
    }
    char buffer[1 << 16];
    zip_int64_t count = 0;
    while ((count = zip_fread(file, buffer, sizeof buffer)) > 0) {
        member.size += count;
        if (member.link && member.target.size() <= PATH_MAX)
            member.target.append(buffer, qsizetype(count));
    }
    if (count < 0)
        error = QString::fromLocal8Bit(zip_file_strerror(file));
    zip_fclose(file);
    return count == 0;
}

std::optional<PackageMember> memberAt(zip_t* archive, zip_uint64_t index, QString& error)
{
    const char* name = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    if (name == nullptr) {
        error = QString::fromLocal8Bit(zip_strerror(archive));
        return std::nullopt;
    }
    PackageMember member;
    member.name = name;
    member.directory = member.name.endsWith('/');
    if (member.directory)
        member.name.chop(1);
    // unzip takes the mode bits whatever system the archive says made the
    // member (a link made "on Atari" is a link too), and so does the check.
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) == 0) {
        member.mode = mode_t(attributes >> 16);
        member.directory = member.directory || S_ISDIR(member.mode);
        member.link = S_ISLNK(member.mode);
    }
    if (!member.directory && !readMember(archive, index, member, error)) {
        error = QStringLiteral("member %1: %2").arg(QString::fromUtf8(member.name), error);
        return std::nullopt;
    }
    return member;
}

QString nameRefusal(const QByteArray& name, const QSet<QByteArray>& reserved)
{
    const QString shown = QString::fromUtf8(name);
    if (name.startsWith('/'))
        return QStringLiteral("absolute name %1").arg(shown);
    const QList<QByteArray> parts = name.split('/');
    for (const QByteArray& part : parts) {
        if (!isPlainNameBytes(part))
            return QStringLiteral("unsafe name %1").arg(shown);
    }
    if (reserved.contains(parts.first()))
        return QStringLiteral("top-level name %1 is the updater's own").arg(shown);
    return {};
}

// Room for the unpacked files on the installation's file system, each in
// whole blocks; empty when there is.
QString roomRefusal(const QString& basePath, const QList<PackageMember>& members)
{
    const QStorageInfo disk(basePath);
    const qint64 block = qMax(disk.blockSize(), 1);
    qint64 needed = 0;
    for (const PackageMember& member : members)
        needed += (member.size + block - 1) / block * block;
    const qint64 available = disk.bytesAvailable();
    if (available < 0 || available >= needed)
        return {};
    return QStringLiteral("not enough room to unpack: %1 KB needed, %2 KB free")
        .arg(needed / 1024)
        .arg(available / 1024);
}

} // namespace

std::optional<QList<PackageMember>> readPackageMembers(const QString& path, QString& error)
{
    int code = 0;
    zip_t* archive =
        zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (archive == nullptr) {
        error = QStringLiteral("%1: %2").arg(path, zipErrorText(code));
        return std::nullopt;
    }
    QList<PackageMember> members;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t index = 0; index < count; ++index) {
        const std::optional<PackageMember> member = memberAt(archive, zip_uint64_t(index), error);
        if (!member) {
            error = QStringLiteral("%1: %2").arg(path, error);
            zip_discard(archive);
            return std::nullopt;
        }
        members.append(*member);
    }
    zip_discard(archive);
    return members;
}

QString membersRefusal(const QList<PackageMember>& members, const QSet<QByteArray>& reserved,
                       const QByteArray& base)
{
    QHash<QByteArray, QByteArray> links;
    for (const PackageMember& member : members) {
        if (member.link)
            links.insert('/' + member.name, member.target);
    }
    const LinkLookup linkAt = [&links](const QByteArray& path) -> std::optional<QByteArray> {
        const auto link = links.constFind(path);
        return link == links.cend() ? std::nullopt : std::optional(*link);
    };
    bool anyFile = false;
    for (const PackageMember& member : members) {
        if (const QString refusal = nameRefusal(member.name, reserved); !refusal.isEmpty())
            return refusal;
        anyFile = anyFile || !member.directory;
        const QString shown = QString::fromUtf8(member.name);
        if (member.link && !linkStaysInside('/' + member.name, member.target, base))
            return QStringLiteral("link %1 leads out of the installation").arg(shown);
        const QByteArray landing = installedPath('/' + member.name, base, linkAt);
        if (landing.isEmpty())
            return QStringLiteral("%1 leads out of the installation").arg(shown);
        if (reserved.contains(topLevelName(landing)))
            return QStringLiteral("%1 reaches the updater's own %2")
                .arg(shown, QString::fromUtf8(topLevelName(landing)));
    }
    return anyFile ? QString() : QStringLiteral("no file to install");
}

QByteArray topLevelName(const QByteArray& path)
{
    const qsizetype slash = path.indexOf('/', 1);
    return slash < 0 ? path.mid(1) : path.mid(1, slash - 1);
}

QByteArray installedPath(const QByteArray& name, const QByteArray& base, const LinkLookup& linkAt)
{
    // The copy follows every directory on the way, the last name it replaces.
    constexpr int maxLinks = 40; // as the kernel's own limit
    const qsizetype lastSlash = name.lastIndexOf('/');
    QList<QByteArray> ahead = name.left(lastSlash).split('/');
    QList<QByteArray> reached;
    int links = 0;
    while (!ahead.isEmpty()) {
        const QByteArray part = ahead.takeFirst();
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (reached.isEmpty())
                return {};
            reached.removeLast();
            continue;
        }
        reached.append(part);
        const std::optional<QByteArray> target = linkAt('/' + reached.join('/'));
        if (!target)
            continue;
        reached.removeLast();
        if (++links > maxLinks)
            return {};
        QByteArray rest = *target;
        if (rest.startsWith('/')) {
            if (base.isEmpty() || !(rest == base || rest.startsWith(base + '/')))
                return {};
            rest = rest.mid(base.size());
            reached.clear();
        }
        ahead = rest.split('/') + ahead;
    }
    reached.append(name.mid(lastSlash + 1));
    return '/' + reached.join('/');
}

bool linkStaysInside(const QByteArray& name, const QByteArray& target, const QByteArray& base)
{
    QByteArray path;
    if (target.startsWith('/')) {
        if (base.isEmpty() || !(target == base || target.startsWith(base + '/')))
            return false;
        path = target.mid(base.size());
    } else {
        path = name.left(name.lastIndexOf('/')) + '/' + target;
    }
    int depth = 0;
    for (const QByteArray& part : path.split('/')) {
        if (part == "..")
            --depth;
        else if (!part.isEmpty() && part != ".")
            ++depth;
        if (depth < 0)
            return false;
    }
    return true;
}

QString unpackedPackagePath(const QString& basePath)
{
    return basePath + QLatin1String("/.unpacked_package");
}

UnpackRefusal unpackBeforeStop(const QString& basePath, const QString& filename)
{
    using Cause = UnpackRefusal::Cause;
    const QString packagePath = basePath + '/' + filename;
    QString error;
    const std::optional<QList<PackageMember>> members = readPackageMembers(packagePath, error);
    if (!members)
        return {Cause::Package, error};
    if (const QString refusal = membersRefusal(
            *members, InstallTransaction::reservedNames(filename), QFile::encodeName(basePath));
        !refusal.isEmpty())
        return {Cause::Package, refusal};
    if (const QString room = roomRefusal(basePath, *members); !room.isEmpty())
        return {Cause::NoRoom, room};
    const QString tree = unpackedPackagePath(basePath);
    // Every member read whole already: a failed unpack is the run's, not the package's.
    UnpackRefusal refusal{Cause::Unpack, QStringLiteral("unzip cannot unpack %1").arg(filename)};
    if (PackageFiles::unpack(packagePath, tree))
        refusal = {Cause::Package, installRefusal(basePath, tree, filename)};
    if (refusal.text.isEmpty())
        return {};
    executeShell("rm -rf -- " + shellQuote(tree));
    return refusal;
}

QString installRefusal(const QString& basePath, const QString& tree, const QString& filename)
{
    FileNames names;
    const QByteArray root = QFile::encodeName(tree);
    PackageFiles::getAllFileName(root, &names, root);
    return QString::fromUtf8(PackageFiles::treeRefusal(
        basePath, tree, names, InstallTransaction::reservedNames(filename)));
}

bool adoptUnpackedPackage(const QString& basePath, PackageFiles& files)
{
    return files.adopt(unpackedPackagePath(basePath));
}
