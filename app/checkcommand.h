#pragma once

// "cmupdater --check [--json]": asks the agent for the version check as the
// window would, without a display and without the window, checks the answer
// as the wizard does and says what the wizard would offer. Changes nothing
// but the history. Exit status 0 when up to date, 100 when something would be
// offered, 1 when the check failed or was refused, 2 for a usage error.
int runCheckCommand(int argc, char** argv);
