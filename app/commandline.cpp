#include "app/commandline.h"

#include "app/checkcommand.h"
#include "app/fromfolder.h"
#include "app/startup.h"
#include "app/updatecommand.h"
#include "history/updatehistory.h"
#include "software/connectionmanager.h"
#include "software/recovery.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

int printOptions(int argc, char** argv);
int printVersion(int argc, char** argv);
int recoverOnly(int argc, char** argv);

struct Option {
    const char* name;
    const char* help;
    int (*run)(int argc, char** argv);
};

// None of them needs a display.
const Option options[] = {
    {"-h", "The same as --help.", printOptions},
    {"--help", "List these options.", printOptions},
    {"--version", "Print the updater's version.", printVersion},
    {"--check",
     "[--json] Ask for a new version without a window and list what would be offered; status "
     "0 up to date or held back for a later stage of a release, 100 something offered, 1 the "
     "check failed or was refused.",
     runCheckCommand},
    {"--update",
     "[--software-only | --firmware-only] [--no-private-data] [--early] [--from DIR] As root, "
     "without a window: install what --check would offer (with --early also a release held "
     "back for a later stage; with --from what the folder DIR holds), keeping the private data "
     "unless told not to; status 0 "
     "installed or nothing offered, 1 failed or refused, 4 put back by the watch, 2 usage, not "
     "root or another updater running.",
     runUpdateCommand},
    {"--from",
     "DIR The window, with the release in the folder DIR (a USB stick: Keys.xml, "
     "Description.xml, their signatures, the packages and deltas) in place of the version "
     "check; every file is copied first and checked as a download, nothing is fetched.",
     runWindowFromFolder},
    {"--recover",
     "As root: finish or roll back an interrupted install, without a display and without a "
     "version check, and say which in one line; status 1 when a backup had to be kept, 3 when "
     "the journal was not trusted and left alone.",
     recoverOnly},
    // Reading the history needs neither the lock nor a display.
    {"--history",
     "[--json] Print the last check and the update history as a table, or as one JSON "
     "document.",
     runHistoryCommand},
};

QStringList wrapped(const QString& text, int width)
{
    QStringList lines{QString()};
    for (const QString& word : text.split(QLatin1Char(' '))) {
        if (!lines.last().isEmpty() && lines.last().size() + 1 + word.size() > width)
            lines.append(QString());
        lines.last() += (lines.last().isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return lines;
}

int printOptions(int, char**)
{
    std::printf("usage: cmupdater [OPTION]\n"
                "Without an option the updater checks for a new version and shows its window.\n");
    for (const Option& option : options) {
        // Under 80 columns, continued under the text's first column.
        const char* name = option.name;
        for (const QString& line : wrapped(QLatin1String(option.help), 64)) {
            std::printf("  %-10s %s\n", name, qPrintable(line));
            name = "";
        }
    }
    return 0;
}

int printVersion(int, char**)
{
    std::printf("cmupdater %s\n", CMUPDATER_VERSION);
    return 0;
}

// At boot, before anything has started the connection manager: the same
// recovery as at start, under the same single-instance lock.
int recoverOnly(int argc, char** argv)
{
    if (::geteuid() != 0) {
        std::fprintf(stderr, "cmupdater --recover: must be run as root, nothing recovered\n");
        return 2;
    }
    const QCoreApplication core(argc, argv);
    if (already_running() != 0) {
        std::printf("another updater is running, nothing recovered\n");
        return 1;
    }
    const std::optional<Installation> installation = loadOwnInstallation("cmupdater --recover");
    if (!installation)
        return 1;
    ConnectionManager manager(installation->BASE_PATH, installation->CM_NAME, installation->WVDIAL);
    const RecoveryOutcome outcome = recoverInterruptedInstall(
        installation->BASE_PATH, installation->CM_NAME, manager, true, installation->HOOK_TIME);
    std::printf("%s\n", recoveryText(outcome));
    return recoveryExitStatus(outcome);
}

} // namespace

int runCommandLineOption(int argc, char** argv)
{
    if (argc < 2)
        return -1;
    for (const Option& option : options) {
        if (std::strcmp(argv[1], option.name) == 0)
            return option.run(argc, argv);
    }
    return -1;
}
