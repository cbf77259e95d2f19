#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <sys/types.h>

// One member of a software package (a zip archive), as unzip would make it.
struct PackageMember {
    QByteArray name; // as stored, without a trailing "/" for a directory
    mode_t mode = 0; // type and permission bits, when the archive has Unix ones
    bool directory = false;
    bool link = false;
    QByteArray target; // of a link
    qint64 size = 0;   // the bytes unpacked
};

// Every member of the zip archive at path, each read to its end so that a
// member that cannot be read or whose CRC is wrong shows; nullopt with error
// (the file and the reason) when the archive cannot be opened or a member fails.
std::optional<QList<PackageMember>> readPackageMembers(const QString& path, QString& error);

// Why the install would refuse these members: no file at all, a name that is
// absolute, has an empty, "." or ".." component or a character a shell or a
// tool would read as a pattern, a top-level name the install keeps for itself
// (in reserved), a link that leads out of the tree, or a name whose
// directories, through the package's own links, lead out or reach a reserved name. With base empty
// any absolute link target leads out; otherwise one inside base stays. Empty when the members may
// be installed.
QString membersRefusal(const QList<PackageMember>& members, const QSet<QByteArray>& reserved,
                       const QByteArray& base = {});

// The target of the link at a path relative to the installation (with a
// leading "/"), nullopt when there is none.
using LinkLookup = std::function<std::optional<QByteArray>(const QByteArray&)>;

// Where the entry name (relative, with a leading "/") lands once installed:
// every directory on its way is followed through the link linkAt finds there,
// as the copy follows it; an absolute target counts only inside base. Empty
// when the way leads out of the installation or through too many links.
QByteArray installedPath(const QByteArray& name, const QByteArray& base, const LinkLookup& linkAt);

// The first component of a path with a leading "/".
QByteArray topLevelName(const QByteArray& path);

// Whether a link at name (relative to base, with a leading "/") with this
// target resolves inside base, judged by the names alone.
bool linkStaysInside(const QByteArray& name, const QByteArray& target, const QByteArray& base);

// The full package checked and unpacked outside the stopped phase: into this
// directory before the connection manager stops, and its tree kept here as the
// next delta's base once the manager runs again.
QString unpackedPackagePath(const QString& basePath);

// Why a package was not unpacked before the stop, and whose fault it is: the
// package's bytes (never to be offered here again), or the run's own (no room
// on the disk, an unpack that failed on members read whole).
struct UnpackRefusal {
    enum class Cause { None, Package, NoRoom, Unpack };
    Cause cause = Cause::None;
    QString text;
    bool refused() const { return cause != Cause::None; }
};

// Checks the package basePath + "/" + filename and unpacks it into
// unpackedPackagePath(); nothing is left behind when it is refused.
UnpackRefusal unpackBeforeStop(const QString& basePath, const QString& filename);

// Why the install would refuse the unpacked or rebuilt tree of the package
// filename, on disk as it lies and through the links installed already; empty
// when it may be installed. Held while the manager still runs, so that the
// install refuses nothing after the stop.
QString installRefusal(const QString& basePath, const QString& tree, const QString& filename);

class PackageFiles;
// The software step's tree source for a package unpacked before the stop.
bool adoptUnpackedPackage(const QString& basePath, PackageFiles& files);
