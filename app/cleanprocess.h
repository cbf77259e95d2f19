#pragma once

#include <vector>

// The updater runs as root but is started by a program the user starts, and
// inherits the user's umask and environment. First thing in main: umask 022,
// a fixed PATH, and an environment rebuilt from the few variables the display,
// the language, the modem line and the proxy need, each kept only in what it
// may say: a
// local display, an authority file of the caller's (copied into a private
// file), a platform plugin that draws on the user's screen or none, a terminal
// of the caller's or a serial port, a session bus on a socket of the caller's
// (for the desktop's accessibility bus). A value that fails is dropped with one line
// on standard error. Every child (shell lines, the hook, the restarted
// connection manager) inherits the result. A file the caller names is opened
// with the caller's file-system ids, never root's. Standard descriptors the
// caller closed are opened on the null device first. Returns the descriptors
// the kept variables name: the authority copy and the session bus's socket.
std::vector<int> cleanProcess();
