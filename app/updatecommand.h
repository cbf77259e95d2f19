#pragma once

// "cmupdater --update [--software-only | --firmware-only] [--no-private-data]
// [--early] [--from DIR]": as root and without a display, installs what
// "--check" would offer (or what the folder DIR holds), under
// the window's lock, printing the window's status lines. Exit status 0 when
// installed or nothing was offered, 1 when the update failed or was refused,
// 4 when it was installed but put back by the watch, 2 for a usage error, a
// run not as root or another updater holding the lock.
int runUpdateCommand(int argc, char** argv);
