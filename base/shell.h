#pragma once

#include <QString>

// Runs composed command lines. Tests install a recorder; the updater runs them
// through the shell with system().
class ShellRunner {
public:
    virtual ~ShellRunner() = default;
    // Returns what system() returns: -1 when no shell could be run, otherwise
    // the wait status of the shell.
    virtual int run(const QString& line) = 0;
};

// The runner in force; system() unless a test has installed another.
ShellRunner& shellRunner();
// Installs runner (not owned); nullptr restores the system() runner.
void setShellRunner(ShellRunner* runner);

// Runs line; false only when no shell could be run.
bool executeShell(const QString& line);
// Runs line; true only when the shell ran and the command exited with status 0.
bool executeShellChecked(const QString& line);

// Quotes value as one shell word: '...' with every ' written as '\''.
QString shellQuote(const QString& value);
