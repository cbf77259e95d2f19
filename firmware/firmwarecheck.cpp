#include "firmware/firmwarecheck.h"

#include "software/packagecheck.h"

QString firmwarePackageRefusal(const QString& packagePath)
{
    QString error;
    const std::optional<QList<PackageMember>> members = readPackageMembers(packagePath, error);
    if (!members)
        return error;
    // The flasher takes every file of the tree: any name will do that stays in it.
    return membersRefusal(*members, {});
}
