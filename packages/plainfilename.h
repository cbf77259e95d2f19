#pragma once

#include <QString>

// True for a name that stays inside the directory it is joined to and reaches
// the agent unchanged: not empty, not "." or "..", no "/", none of the
// pattern characters * ? [ ] \, no control character, and nothing that
// UTF-8 cannot carry as it is (a lone surrogate) or that is no character at
// all (a non-character).
bool isPlainFileName(const QString& name);

// The connection manager's program name: a plain name of letters, digits, ".",
// "_" and "-" only, which it is safe to hand to pidof, chmod and a restart.
bool isPlainExecutableName(const QString& name);
