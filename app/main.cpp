#include "app/cleanprocess.h"
#include "app/commandline.h"
#include "app/credentials.h"
#include "app/startup.h"
#include "base/processend.h"

int main(int argc, char** argv)
{
    settleCredentials(cleanProcess());
    // Ending through terminateProcess: the agent's thread may still be in a callback.
    const int optionStatus = runCommandLineOption(argc, argv);
    terminateProcess(optionStatus >= 0 ? optionStatus : runUpdater(argc, argv));
}
