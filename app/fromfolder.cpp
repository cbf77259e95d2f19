#include "app/fromfolder.h"

#include "app/credentials.h"
#include "app/startup.h"

#include <QDir>

#include <cstdio>

std::optional<FolderOrigin> callersFolder(int argc, char** argv, int index)
{
    if (index >= argc || argv[index][0] == '\0') {
        std::fprintf(stderr, "cmupdater: --from needs a folder\n");
        return std::nullopt;
    }
    const QString path = QDir(startingDirectory()).absoluteFilePath(QFile::decodeName(argv[index]));
    return FolderOrigin{QDir::cleanPath(path), startingCaller()};
}

int runWindowFromFolder(int argc, char** argv)
{
    std::optional<FolderOrigin> folder = callersFolder(argc, argv, 2);
    return folder ? runUpdater(argc, argv, std::move(folder)) : 2;
}
