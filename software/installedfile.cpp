#include "software/installedfile.h"

#include "base/installation.h"
#include "base/shell.h"
#include "packages/plainfilename.h"

#include <QFile>

#include <sys/stat.h>

bool isRegularFileNoFollow(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool setConnectionManagerUserId(const QString& basePath, const QString& cmName)
{
    const QString program = basePath + '/' + cmName;
    if (!isPlainExecutableName(cmName) || !isRegularFileNoFollow(program))
        return false;
    return executeShell("chmod 4755 " + shellQuote(program));
}
