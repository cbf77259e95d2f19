#pragma once

// The updater runs as root but is started by a program the user starts, and
// inherits the user's umask and environment. First thing in main: umask 022,
// a fixed PATH, and an environment rebuilt from the few variables the display,
// the language and the modem line need; every child (shell lines, the hook, the restarted
// connection manager) inherits it.
void cleanProcess();
