#include "packagelint.h"

#include "report.h"
#include "software/installtransaction.h"
#include "software/packagecheck.h"

#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>

namespace {

// What answering "No" to the backup question lets the package replace.
bool isPrivateDataName(const QByteArray& name)
{
    for (const char* file : privateDataFiles) {
        if (name == QByteArray("Data") + file)
            return true;
    }
    return false;
}

QStringList memberWarnings(const QList<PackageMember>& members)
{
    QStringList warnings;
    for (const PackageMember& member : members) {
        const QString name = QString::fromUtf8(member.name);
        if (!member.link && (member.mode & (S_IWGRP | S_IWOTH)) != 0)
            warnings << QStringLiteral("%1 is group- or world-writable").arg(name);
        if (!member.link && (member.mode & S_ISUID) != 0)
            warnings << QStringLiteral("%1 is set-user-id").arg(name);
        if (isPrivateDataName(member.name))
            warnings << QStringLiteral("%1 replaces the user's own when the user does not "
                                       "back up the private data")
                            .arg(name);
    }
    return warnings;
}

QString softwareRefusal(const QList<PackageMember>& members, const QString& filename)
{
    const QString refusal = membersRefusal(members, InstallTransaction::reservedNames(filename));
    if (!refusal.isEmpty())
        return refusal;
    // The install leaves these out (a stray ".git"): a release should not
    // carry what it never installs.
    const auto hidden = std::find_if(members.begin(), members.end(),
                                     [](const PackageMember& m) { return m.name.startsWith('.'); });
    return hidden == members.end() ? QString()
                                   : QStringLiteral("top-level name %1 is never installed")
                                         .arg(QString::fromUtf8(hidden->name));
}

QString firmwareRefusal(const QList<PackageMember>& members)
{
    const bool anyFile = std::any_of(members.begin(), members.end(),
                                     [](const PackageMember& member) { return !member.directory; });
    return anyFile ? QString() : QStringLiteral("no file to flash");
}

} // namespace

PackageFindings packageFindings(const QString& path, bool software)
{
    PackageFindings findings;
    QString error;
    const std::optional<QList<PackageMember>> members = readPackageMembers(path, error);
    if (!members) {
        findings.refusals << error;
        return findings;
    }
    const QString refusal = software ? softwareRefusal(*members, QFileInfo(path).fileName())
                                     : firmwareRefusal(*members);
    if (!refusal.isEmpty())
        findings.refusals << QStringLiteral("%1: %2").arg(path, refusal);
    for (const QString& warning : memberWarnings(*members))
        findings.warnings << QStringLiteral("%1: %2").arg(path, warning);
    return findings;
}

bool acceptPackageFile(const QString& path, bool software)
{
    const PackageFindings findings = packageFindings(path, software);
    for (const QString& warning : findings.warnings)
        warn(warning);
    if (findings.refusals.isEmpty())
        return true;
    fail(findings.refusals.first());
    return false;
}
