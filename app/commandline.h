#pragma once

// The options the updater takes as its first argument. Without one of them
// every argument goes to the toolkit, as the connection manager starts it.

// The action of the option in argv[1], run to its end, as an exit status;
// -1 when argv[1] is none of the updater's options.
int runCommandLineOption(int argc, char** argv);
