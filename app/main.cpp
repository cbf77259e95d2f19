#include "app/startup.h"

int main(int argc, char** argv)
{
    // Ending through terminateProcess: the agent's thread may still be in a callback.
    terminateProcess(runUpdater(argc, argv));
}
