#include "app/cleanprocess.h"
#include "app/startup.h"

int main(int argc, char** argv)
{
    cleanProcess();
    // Ending through terminateProcess: the agent's thread may still be in a callback.
    terminateProcess(runUpdater(argc, argv));
}
