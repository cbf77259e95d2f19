#include "app/commandline.h"

#include "app/globals.h"
#include "app/startup.h"
#include "history/updatehistory.h"
#include "software/connectionmanager.h"
#include "software/recovery.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

int printOptions(int argc, char** argv);
int recoverOnly(int argc, char** argv);

struct Option {
    const char* name;
    const char* help;
    int (*run)(int argc, char** argv);
};

const Option options[] = {
    {"--help", "List these options.", printOptions},
    {"--recover",
     "Finish or roll back an interrupted install, without a display and without a version "
     "check, and say which in one line; status 1 when a backup had to be kept, 3 when the "
     "journal was not trusted and left alone.",
     recoverOnly},
    // Reading the history needs neither the lock nor a display.
    {"--history", "Print the update history as a table, or with --json as it is stored.",
     runHistoryCommand},
};

int printOptions(int, char**)
{
    for (const Option& option : options)
        std::printf("  %-12s %s\n", option.name, option.help);
    return 0;
}

// At boot, before anything has started the connection manager: the same
// recovery as at start, under the same single-instance lock.
int recoverOnly(int argc, char** argv)
{
    const QCoreApplication core(argc, argv);
    if (already_running() != 0) {
        std::printf("another updater is running, nothing recovered\n");
        return 1;
    }
    BASE_PATH = QCoreApplication::applicationDirPath();
    const Settings settings = readSettings();
    CM_NAME = QString::fromLocal8Bit(settings.cmName);
    WVDIAL = QString::fromLocal8Bit(settings.wvdial);
    ConnectionManager manager(BASE_PATH, CM_NAME, WVDIAL);
    const RecoveryOutcome outcome =
        recoverInterruptedInstall(BASE_PATH, CM_NAME, manager, true, readHookTime());
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
